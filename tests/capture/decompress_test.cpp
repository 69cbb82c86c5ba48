/*
 * decompress_test.cpp --
 *
 *	Compressed captures, made by the real compressors' tools: each of the
 *	five formats, as joined streams, reads to exactly the plain file's
 *	trace, whatever the file is called; a file cut short reads up to the
 *	cut with a warning; a corrupt one fails before any packet with a
 *	message naming it; the window's probe sees the same.
 */

#include "capture/decompress.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "support/pcapgen.h"
#include "trace/binread.h"
#include "capture/capfile.h"
#include "capture/loadfail.h"
#include "capture/stream.h"
#include "trace/flow.h"
#include "trace/trace.h"

namespace {

const std::string sample = std::string(WIREPAINT_SOURCE_DIR) + "/examples/sender.pcap";

/* One format: its tool, with small blocks (so that a cut leaves whole
 * blocks before it), and the library's text for the corruption the tests
 * make in the sample. */
struct format {
    const char *name;
    const char *tool;
    const char *corrupt_reason;
};

const format formats[] = {
    {"gzip", "gzip -n -c", "invalid distance too far back"},
    {"zstd", "zstd -q -c", "Restored data doesn't match checksum"},
    {"xz", "xz -c", "compressed data is corrupt"},
    {"bzip2", "bzip2 -1 -c", "data integrity error"},
    {"lz4", "lz4 -q -B4 -c", "ERROR_decompressionFailed"},
};

/* Runs `tool` on `in` into `out`; returns `out`. */
std::string compress(const std::string &tool, const std::string &in, const std::string &out)
{
    std::string cmd = tool + " < '" + in + "' > '" + out + "'";
    EXPECT_EQ(std::system(cmd.c_str()), 0) << cmd;
    return out;
}

std::vector<char> file_bytes(const std::string &path)
{
    std::ifstream f(path, std::ios::binary);
    return std::vector<char>(std::istreambuf_iterator<char>(f), {});
}

void write_bytes(const std::string &path, const std::vector<char> &b)
{
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    f.write(b.data(), (std::streamsize)b.size());
}

/* What a read gave: the records' fields and packet copies, the status
 * of a failure (0 none) and what was written on standard error. */
struct read_outcome {
    std::vector<std::string> records;
    int status = 0;
    std::string err;
};

read_outcome read_trapped(const std::string &path)
{
    read_outcome out;
    trace_state_clear();
    loadfail_reset();
    loadfail_trap_begin();
    testing::internal::CaptureStderr();
    try {
        read_capture(path.c_str());
    } catch (const load_error &e) {
        out.status = e.status;
    }
    out.err = testing::internal::GetCapturedStderr();
    loadfail_trap_end();
    for (int32_t i = 0; i < g_trace.building.count; i++) {
        const seg_record &r = g_trace.building.rec[i];
        char head[160];
        std::snprintf(head, sizeof head, "%.6f %lld %lld %d %u|", r.time, (long long)seq_of(r),
                      (long long)ack_of(r), r.paylen, (unsigned)r.tcp_flags);
        const uint8_t *b = record_bytes(&g_trace.building, i);
        out.records.push_back(head + std::string(b, b + record_cap_bytes(&g_trace.building, i)));
    }
    trace_state_clear();
    return out;
}

/* A capture of one connection of `n` segments of `size` bytes of random
 * payload, so that it compresses into many blocks. */
std::string random_capture(int n = 2000, int size = 700)
{
    std::string path = pcapgen::temp_path("random.pcap");
    pcapgen::savefile_writer w(path, pcapgen::LINK_EN10MB, 65535);
    std::mt19937 rng(7);
    for (int i = 0; i < n; i++) {
        pcapgen::tcp_seg s;
        s.seq = 1000 + (uint32_t)(i * size);
        s.payload.resize((size_t)size);
        for (uint8_t &b : s.payload)
            b = (uint8_t)rng();
        w.ip(pcapgen::build_tcp(s), i * 0.001);
    }
    w.close();
    return path;
}

}  // namespace

/* Per format: the random capture in two halves, each compressed on its
 * own, the streams joined and named as a plain capture, reads as the
 * whole file; cut at 60%, inside the second stream, it reads the records
 * of the whole blocks before the cut with a warning; the sample with 16
 * bytes changed reads nothing and fails with the library's reason, in the
 * window's probe too. */
TEST(Decompress, JoinedCutAndCorruptFilesOfEveryFormat)
{
    std::string big = random_capture();
    read_outcome plain = read_trapped(big);
    ASSERT_EQ(plain.records.size(), 2000u);
    std::vector<char> whole = file_bytes(big);
    std::string halves[2] = {pcapgen::temp_path("half0"), pcapgen::temp_path("half1")};
    write_bytes(halves[0], std::vector<char>(whole.begin(), whole.begin() + 500000));
    write_bytes(halves[1], std::vector<char>(whole.begin() + 500000, whole.end()));
    for (const format &f : formats) {
        std::vector<char> joined;
        for (const std::string &h : halves) {
            std::vector<char> part = file_bytes(compress(f.tool, h, h + ".z"));
            joined.insert(joined.end(), part.begin(), part.end());
        }
        std::string path = pcapgen::temp_path(std::string(f.name) + ".pcap");
        write_bytes(path, joined);
        read_outcome got = read_trapped(path);
        EXPECT_EQ(got.err, "") << f.name;
        EXPECT_TRUE(got.records == plain.records) << f.name;

        joined.resize(joined.size() * 6 / 10);
        write_bytes(path, joined);
        got = read_trapped(path);
        EXPECT_EQ(got.status, 0) << f.name << ": " << got.err;
        std::string warning = "wirepaint: warning: " + path + ": " + f.name +
                              " data cut short; read up to the cut\n";
        EXPECT_EQ(got.err.substr(0, warning.size()), warning) << f.name;
        EXPECT_EQ(g_loadfail.warnings.substr(0, warning.size()), warning) << f.name;
        EXPECT_GT(got.records.size(), 2000u * 4 / 10) << f.name;
        EXPECT_LT(got.records.size(), 2000u * 7 / 10) << f.name;
        for (size_t i = 0; i < got.records.size(); i++)
            ASSERT_EQ(got.records[i], plain.records[i]) << f.name << " " << i;

        std::vector<char> b = file_bytes(compress(f.tool, sample, path));
        for (size_t i = b.size() / 2; i < b.size() / 2 + 16; i++)
            b[i] ^= 0x55;
        write_bytes(path, b);
        got = read_trapped(path);
        std::string reason = std::string("corrupt ") + f.name + " data: " + f.corrupt_reason;
        EXPECT_EQ(got.status, 1) << f.name;
        EXPECT_EQ(got.err, "wirepaint: " + path + ": " + reason + "\n");
        EXPECT_EQ(g_loadfail.message, "wirepaint: " + path + ": " + reason);
        EXPECT_TRUE(got.records.empty()) << f.name;
        std::string probed;
        EXPECT_EQ(capture_probe(path.c_str(), &probed), 0) << f.name;
        EXPECT_EQ(probed, reason);
    }
}

/* A capture several times the ring between the decompressing thread and
 * the reader, of random payload, reads through the ring of every format
 * (which wraps and makes each side wait) to exactly the plain file's
 * records. */
/* Rows: captures larger than the ring, in every format; and one of many
 * small records, whose record array (a stream's size is not known
 * ahead) is grown, and moved, several times ahead of the reader. */
TEST(Decompress, CapturesLargerThanTheRingStreamWhole)
{
    struct row {
        int segments, size;
        size_t formats;
    } rows[] = {{6000, 1000, std::size(formats)}, {180000, 0, 2}};
    for (const row &w : rows) {
        std::string path = random_capture(w.segments, w.size);
        ASSERT_GT(std::filesystem::file_size(path), 3u * STREAM_RING_BYTES / 2);
        read_outcome plain = read_trapped(path);
        ASSERT_EQ(plain.records.size(), (size_t)w.segments);
        for (size_t k = 0; k < w.formats; k++) {
            read_outcome got = read_trapped(compress(formats[k].tool, path, path + ".z"));
            EXPECT_EQ(got.err, "") << formats[k].name << " " << w.segments;
            EXPECT_TRUE(got.records == plain.records) << formats[k].name << " " << w.segments;
        }
    }
}
