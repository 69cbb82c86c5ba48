/*
 * filemap_test.cpp --
 *
 *	The packet bytes of records read in the mapped capture file against
 *	their copies: random captures (cut frames, packets of other
 *	connections, a filter, a copy length) read once from the file and
 *	once through a pipe, which cannot be mapped and so gives copies.
 */

#include "trace/filemap.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "support/pcapgen.h"
#include "support/readback.h"
#include "trace/capfile.h"
#include "trace/trace.h"

namespace {

/* The bytes and count of packet-data bytes of every record just read. */
struct read_bytes {
    std::vector<std::vector<uint8_t>> bytes;
    bool mapped;
};

read_bytes take(const std::string &path, int copy_len)
{
    trace_state_clear();
    g_trace.copy_len = copy_len;
    testing::internal::CaptureStdout();
    read_capture(path.c_str());
    testing::internal::GetCapturedStdout();
    read_bytes r{{}, g_trace.building.map != nullptr};
    for (int32_t i = 0; i < g_trace.building.count; i++) {
        const uint8_t *p = record_bytes(&g_trace.building, i);
        r.bytes.emplace_back(p, p + record_cap_bytes(&g_trace.building, i));
    }
    return r;
}

/* take() on the file's bytes fed through a pipe. */
read_bytes take_piped(const std::string &path, int copy_len)
{
    int fds[2];
    if (pipe(fds) != 0)
        return read_bytes{{}, true};
    std::thread feed([&path, fds] {
        int in = open(path.c_str(), O_RDONLY);
        char buf[4096];
        ssize_t n;
        while (in >= 0 && (n = read(in, buf, sizeof buf)) > 0)
            if (write(fds[1], buf, (size_t)n) != n)
                break;
        close(in);
        close(fds[1]);
    });
    read_bytes r = take("/proc/self/fd/" + std::to_string(fds[0]), copy_len);
    feed.join();
    close(fds[0]);
    return r;
}

/* KiB of the mapping at `base` that are mapped in (smaps "Rss"); the
 * file's pages in the system's cache do not count. -1 when not found. */
long mapped_in_kib(const void *base)
{
    FILE *f = std::fopen("/proc/self/smaps", "r");
    char line[512];
    bool in = false;
    long kib = -1;
    while (f != nullptr && std::fgets(line, sizeof line, f) != nullptr) {
        unsigned long start = 0, end = 0;
        if (std::sscanf(line, "%lx-%lx ", &start, &end) == 2)
            in = start == (unsigned long)base;
        else if (in && std::sscanf(line, "Rss: %ld kB", &kib) == 1)
            break;
    }
    if (f != nullptr)
        std::fclose(f);
    return kib;
}

pcapgen::tcp_seg random_segment(std::mt19937 &rng)
{
    pcapgen::tcp_seg s;
    bool back = rng() % 2;
    s.src = back ? "10.0.0.2" : "10.0.0.1";
    s.dst = back ? "10.0.0.1" : "10.0.0.2";
    s.sport = back ? 80 : 40000;
    s.dport = back ? 40000 : 80;
    if (rng() % 8 == 0)
        s.dport = 81; /* another connection: dropped by the decoder */
    s.seq = rng();
    s.ack = rng();
    s.flags = 0x10 | (rng() % 2 ? 0x08 : 0);
    s.paylen = (int)(rng() % 200);
    if (rng() % 4 == 0)
        s.tcp_options = {1, 1, 8, 10, 1, 2, 3, 4, 5, 6, 7, 8};
    return s;
}

}  // namespace

TEST(FileMap, RandomCapturesReadInPlaceAsTheirCopies)
{
    std::mt19937 rng(23);
    for (int round = 0; round < 60; round++) {
        pcapgen::capture c;
        int n = 1 + (int)(rng() % 300);
        for (int i = 0; i < n; i++) {
            int cut = rng() % 5 == 0 ? 34 + (int)(rng() % 60) : -1;
            c.add(pcapgen::build_tcp(random_segment(rng)), i * 0.001, cut);
        }
        std::string path = c.write();
        int copy_len = rng() % 3 == 0 ? 20 + (int)(rng() % 200) : 0;
        g_capfile.filter = rng() % 3 == 0 ? "tcp[13] & 8 = 0" : "";
        read_bytes mapped = take(path, copy_len);
        read_bytes copied = take_piped(path, copy_len);
        ASSERT_TRUE(mapped.mapped) << round;
        ASSERT_FALSE(copied.mapped) << round;
        ASSERT_EQ(mapped.bytes.size(), copied.bytes.size()) << round;
        for (size_t i = 0; i < mapped.bytes.size(); i++)
            ASSERT_EQ(mapped.bytes[i], copied.bytes[i]) << "round " << round << " record " << i;
    }
    g_capfile.filter.clear();
    trace_state_clear();
}

/* The pages a pass gives back leave the process and still read the same. */
TEST(FileMap, ReleasedPagesLeaveAndReadTheSame)
{
    pcapgen::capture c;
    std::mt19937 rng(7);
    for (int i = 0; i < 20000; i++)
        c.add(pcapgen::build_tcp(random_segment(rng)), i * 0.001);
    read_bytes before = take(c.write(), 0);
    const file_map *m = g_trace.building.map;
    ASSERT_NE(m, nullptr);
    long page_kib = sysconf(_SC_PAGESIZE) / 1024;
    EXPECT_GT(mapped_in_kib(m->base), 100 * page_kib);
    trace_release_bytes(&g_trace.building, 0, g_trace.building.count);
    /* All but the pages the file's first and last bytes share. */
    EXPECT_LE(mapped_in_kib(m->base), 2 * page_kib);
    for (int32_t i = 0; i < g_trace.building.count; i++) {
        const uint8_t *p = record_bytes(&g_trace.building, i);
        ASSERT_EQ(std::vector<uint8_t>(p, p + record_cap_bytes(&g_trace.building, i)),
                  before.bytes[(size_t)i]) << i;
    }
    trace_state_clear();
}

/* A file cut short while mapped: the records past its new end have no
 * bytes, and reading them does not end the process. */
TEST(FileMap, FileCutShortWhileMappedReadsAsRecordsWithoutBytes)
{
    pcapgen::capture c;
    std::mt19937 rng(9);
    for (int i = 0; i < 5000; i++)
        c.add(pcapgen::build_tcp(random_segment(rng)), i * 0.001);
    std::string path = c.write();
    read_bytes before = take(path, 0);
    ASSERT_NE(g_trace.building.map, nullptr);
    trace_release_bytes(&g_trace.building, 0, g_trace.building.count);
    ASSERT_EQ(truncate(path.c_str(), 8192), 0);
    int32_t last = g_trace.building.count - 1;
    EXPECT_EQ(record_bytes(&g_trace.building, last), nullptr);
    EXPECT_EQ(record_cap_bytes(&g_trace.building, last), 0);
    const uint8_t *first = record_bytes(&g_trace.building, 0);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(std::vector<uint8_t>(first, first + record_cap_bytes(&g_trace.building, 0)),
              before.bytes[0]);
    trace_state_clear();
}
