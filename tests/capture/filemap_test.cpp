/*
 * filemap_test.cpp --
 *
 *	Records read in the mapped capture file against their copies, on
 *	random captures (cut frames, other connections' packets, a filter, a
 *	copy length) read from the file and through a pipe, which cannot be
 *	mapped; and the file's pages given back, and the file cut short.
 */

#include "capture/filemap.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "support/pcapgen.h"
#include "trace/binread.h"
#include "capture/capfile.h"
#include "trace/trace.h"

namespace {

using record_bytes_list = std::vector<std::vector<uint8_t>>;

/* Reads `path` (through a pipe, which cannot be mapped, when `piped`)
 * and gives each record's packet-data bytes. */
record_bytes_list take(const std::string &path, int copy_len, bool piped = false)
{
    int fds[2] = {-1, -1};
    std::thread feed;
    if (piped && pipe(fds) == 0)
        feed = std::thread([&path, fds] {
            EXPECT_EQ(std::system(("cat '" + path + "' >&" + std::to_string(fds[1])).c_str()), 0);
            close(fds[1]);
        });
    trace_state_clear();
    g_trace.copy_len = copy_len;
    testing::internal::CaptureStdout();
    std::string name = piped ? "/proc/self/fd/" + std::to_string(fds[0]) : path;
    read_capture(name.c_str());
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(g_trace.building.map == nullptr, piped);
    record_bytes_list r;
    for (int32_t i = 0; i < g_trace.building.count; i++) {
        const uint8_t *p = record_bytes(&g_trace.building, i);
        r.emplace_back(p, p + record_cap_bytes(&g_trace.building, i));
    }
    if (piped) {
        feed.join();
        close(fds[0]);
    }
    return r;
}

/* KiB of the mapping at `base` mapped into this process (smaps "Rss"). */
long mapped_in_kib(const void *base)
{
    FILE *f = std::fopen("/proc/self/smaps", "r");
    char line[512];
    bool in = false;
    long kib = -1;
    unsigned long start, end;
    while (f != nullptr && kib < 0 && std::fgets(line, sizeof line, f) != nullptr) {
        if (std::sscanf(line, "%lx-%lx ", &start, &end) == 2)
            in = start == reinterpret_cast<unsigned long>(base);
        else if (in)
            std::sscanf(line, "Rss: %ld kB", &kib);
    }
    if (f != nullptr)
        std::fclose(f);
    return kib;
}

/* A capture of `n` random segments, some of another connection or cut. */
std::string random_capture(std::mt19937 &rng, int n)
{
    pcapgen::capture c;
    for (int i = 0; i < n; i++) {
        pcapgen::tcp_seg s;
        bool back = rng() % 2;
        s.src = back ? "10.0.0.2" : "10.0.0.1";
        s.dst = back ? "10.0.0.1" : "10.0.0.2";
        s.sport = back ? 80 : 40000;
        s.dport = rng() % 8 == 0 ? 81 : back ? 40000 : 80;
        s.seq = rng();
        s.ack = rng();
        s.flags = 0x10 | (rng() % 2 ? 0x08 : 0);
        s.paylen = (int)(rng() % 200);
        if (rng() % 4 == 0)
            s.tcp_options = {1, 1, 8, 10, 1, 2, 3, 4, 5, 6, 7, 8};
        c.add(pcapgen::build_tcp(s), i * 0.001, rng() % 5 == 0 ? 34 + (int)(rng() % 60) : -1);
    }
    return c.write();
}

}  // namespace

TEST(FileMap, RandomCapturesReadInPlaceAsTheirCopies)
{
    std::mt19937 rng(23);
    for (int round = 0; round < 60; round++) {
        std::string path = random_capture(rng, 1 + (int)(rng() % 300));
        int copy_len = rng() % 3 == 0 ? 20 + (int)(rng() % 200) : 0;
        g_capfile.filter = rng() % 3 == 0 ? "tcp[13] & 8 = 0" : "";
        ASSERT_EQ(take(path, copy_len), take(path, copy_len, true)) << round;
    }
    g_capfile.filter.clear();
    trace_state_clear();
}

/* Pages given back leave the process and read the same again; a file
 * cut short while mapped leaves the records past its end without bytes
 * (and the process running). */
TEST(FileMap, PagesGivenBackReadTheSameAndACutFileReadsAsNoBytes)
{
    std::mt19937 rng(7);
    std::string path = random_capture(rng, 20000);
    record_bytes_list before = take(path, 0);
    const file_map *m = g_trace.building.map;
    ASSERT_NE(m, nullptr);
    long page_kib = sysconf(_SC_PAGESIZE) / 1024;
    EXPECT_GT(mapped_in_kib(m->base), 100 * page_kib);
    trace_release_bytes(&g_trace.building, 0, g_trace.building.count);
    EXPECT_LE(mapped_in_kib(m->base), 2 * page_kib); /* the first and last */
    int32_t n = g_trace.building.count;
    for (int32_t i = 0; i < n; i++) {
        const uint8_t *p = record_bytes(&g_trace.building, i);
        ASSERT_EQ(record_bytes_list::value_type(p, p + record_cap_bytes(&g_trace.building, i)),
                  before[(size_t)i]) << i;
    }
    trace_release_bytes(&g_trace.building, 0, n);
    ASSERT_EQ(truncate(path.c_str(), 8192), 0);
    EXPECT_EQ(record_bytes(&g_trace.building, n - 1), nullptr);
    EXPECT_EQ(record_cap_bytes(&g_trace.building, n - 1), 0);
    const uint8_t *first = record_bytes(&g_trace.building, 0);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(record_bytes_list::value_type(first, first + before[0].size()), before[0]);
    trace_state_clear();
}
