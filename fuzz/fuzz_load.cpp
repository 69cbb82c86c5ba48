/*
 * fuzz_load.cpp --
 *
 *	libFuzzer target: every input (see frame.h) becomes one or two real
 *	capture files, which go through the connection list, the choice of
 *	connection, the trace-set loader (reader, decoder, analysis, line
 *	list and, with two files, the clock alignment, then the events pass),
 *	the detail text and the events of every line, and the headless
 *	outputs (-S, -E, -x, the health table, the five graphs); the first
 *	file may go compressed, whole, cut or damaged, through the
 *	decompression. An input that starts as a capture file or a
 *	compressor's stream does is written as it is (frame::is_raw_file):
 *	its record headers, block lengths and stream bytes are the fuzzer's
 *	own, read as the program reads a file (the mapped walk, libpcap,
 *	the decompression). The
 *	loads run trapped, as loads from the window do, so a
 *	fatal condition is an orderly load_error and never ends the process:
 *	the fuzzer reports any exit, crash, sanitizer error or leak.
 */

#include <unistd.h>

#include <bzlib.h>
#include <lz4frame.h>
#include <lzma.h>
#include <zlib.h>
#include <zstd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "analysis/events.h"
#include "fuzz/frame.h"
#include "graph/series.h"
#include "load/choose.h"
#include "load/loader.h"
#include "report/event_list.h"
#include "report/health.h"
#include "report/stats.h"
#include "report/table.h"
#include "text/detail.h"
#include "trace/connlist.h"
#include "capture/loadfail.h"
#include "trace/trace.h"

namespace {

std::string g_paths[2];

void make_paths()
{
    const char *base = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
    std::string stem = std::string(base) + "/wirepaint-fuzz-" + std::to_string(getpid());
    g_paths[0] = stem + "-a.pcap";
    g_paths[1] = stem + "-b.pcap";
}

void remove_paths()
{
    unlink(g_paths[0].c_str());
    unlink(g_paths[1].c_str());
}

/* The events of line i, which the load found: a stall and a duplicate
 * ACK name an earlier segment. Anything else is a fault of the pass. */
void check_events(int32_t i)
{
    const seg_events *e = events_of(i);
    if (e == nullptr)
        std::abort();
    bool refers = e->kinds & ((1u << EV_STALL) | (1u << EV_DUPLICATE_ACK));
    if (refers && !(e->ref >= 0 && e->ref < i))
        std::abort();
    if (events_kinds_text(e->kinds, ';').empty() != (e->kinds == 0))
        std::abort();
}

std::vector<uint8_t> file_bytes(const std::string &path)
{
    std::vector<uint8_t> b;
    FILE *f = std::fopen(path.c_str(), "rb");
    if (f == nullptr)
        return b;
    uint8_t buf[65536];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0)
        b.insert(b.end(), buf, buf + n);
    std::fclose(f);
    return b;
}

/* `plain` compressed by compressor `which` (0 gzip, 1 zstd, 2 xz,
 * 3 bzip2, 4 lz4) through its library; empty when it failed. */
std::vector<uint8_t> compressed(const std::vector<uint8_t> &plain, int which)
{
    size_t cap = plain.size() + plain.size() / 2 + 1024;
    std::vector<uint8_t> out(cap);
    size_t len = 0;
    if (which == 0) {
        z_stream z = {};
        if (deflateInit2(&z, 6, Z_DEFLATED, 16 + MAX_WBITS, 8, Z_DEFAULT_STRATEGY) != Z_OK)
            return {};
        z.next_in = const_cast<uint8_t *>(plain.data());
        z.avail_in = (uInt)plain.size();
        z.next_out = out.data();
        z.avail_out = (uInt)cap;
        bool ok = deflate(&z, Z_FINISH) == Z_STREAM_END;
        len = z.total_out;
        deflateEnd(&z);
        if (!ok)
            return {};
    } else if (which == 1) {
        len = ZSTD_compress(out.data(), cap, plain.data(), plain.size(), 3);
        if (ZSTD_isError(len))
            return {};
    } else if (which == 2) {
        if (lzma_easy_buffer_encode(1, LZMA_CHECK_CRC64, nullptr, plain.data(), plain.size(),
                                    out.data(), &len, cap) != LZMA_OK)
            return {};
    } else if (which == 3) {
        unsigned int n = (unsigned int)cap;
        if (BZ2_bzBuffToBuffCompress(reinterpret_cast<char *>(out.data()), &n,
                                     reinterpret_cast<char *>(const_cast<uint8_t *>(plain.data())),
                                     (unsigned int)plain.size(), 1, 0, 0) != BZ_OK)
            return {};
        len = n;
    } else {
        len = LZ4F_compressFrame(out.data(), cap, plain.data(), plain.size(), nullptr);
        if (LZ4F_isError(len))
            return {};
    }
    out.resize(len);
    return out;
}

/* Mode bits 3 to 5 (frame.h): the first file compressed, then cut or
 * with one byte flipped. */
void compress_first_file(const frame::input &in)
{
    if (!(in.mode & 8))
        return;
    std::vector<uint8_t> z = compressed(file_bytes(g_paths[0]), in.param % 5);
    if (z.empty())
        return;
    if (in.mode & 16)
        z.resize(z.size() * (size_t)(1 + in.param % 7) / 8);
    if ((in.mode & 32) && !z.empty())
        z[z.size() * (size_t)(in.param % 13) / 13] ^= 0xa5;
    FILE *f = std::fopen(g_paths[0].c_str(), "wb");
    if (f == nullptr)
        return;
    std::fwrite(z.data(), 1, z.size(), f);
    std::fclose(f);
}

/* The headless outputs of what is loaded: -S, -E, -x and every graph
 * of both directions, written where nobody reads them. */
void write_outputs()
{
    static FILE *sink = std::fopen("/dev/null", "w");
    if (sink == nullptr)
        std::abort();
    statistics_text();
    write_event_list(sink);
    write_table(sink);
    graph_inputs in{nullptr, 0};
    for (int type = 0; type < GRAPH_TYPES; type++)
        for (int dir = 1; dir <= 2; dir++)
            build_graph(static_cast<graph_type>(type), dir, in);
}

void run_load(const frame::input &in, int nfiles)
{
    char *names[2] = {&g_paths[0][0], &g_paths[1][0]};
    g_trace.saved_copy_len = (in.mode & 2) ? 4 * in.param + 1 : 0;
    int number = (in.mode & 4) ? 1 + in.param % 4 : 0;
    try {
        health_table(names[0]);
        list_connections(names[0]);
        choose_connection(nfiles, names, number);
        load_traces(nfiles, names, 1);
        for (int32_t i = 0; g_trace.loaded && i < g_trace.main.count; i++) {
            segment_detail_text(i, 0);
            check_events(i);
        }
        if (g_trace.loaded)
            write_outputs();
    } catch (const load_error &) {
        unload_traces();
    }
    conn_select_clear();
}

/* An input written as it is, as the first file and, when its last byte
 * is odd, as the second too. False when the file could not be written. */
bool write_raw(const uint8_t *data, size_t size, int *nfiles)
{
    *nfiles = (data[size - 1] & 1) ? 2 : 1;
    for (int k = 0; k < *nfiles; k++) {
        FILE *f = std::fopen(g_paths[k].c_str(), "wb");
        if (f == nullptr)
            return false;
        bool ok = std::fwrite(data, 1, size, f) == size;
        if (std::fclose(f) != 0 || !ok)
            return false;
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    /* The decoder reports every dropped packet on standard output, and
     * the loader its failures on standard error: tools/fuzz.sh runs with
     * -close_fd_mask=3, under which libFuzzer keeps its own output. */
    make_paths();
    std::atexit(remove_paths);
    loadfail_trap_begin();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    g_loadfail.warnings.clear();
    if (frame::is_raw_file(data, size)) {
        int nfiles = 1;
        if (write_raw(data, size, &nfiles))
            run_load(frame::input(), nfiles);
        return 0;
    }
    frame::input in = frame::parse(data, size);
    if (!frame::write_capture(in, 0, g_paths[0]) || !frame::write_capture(in, 1, g_paths[1]))
        return 0;
    compress_first_file(in);
    run_load(in, (in.mode & 1) ? 2 : 1);
    return 0;
}
