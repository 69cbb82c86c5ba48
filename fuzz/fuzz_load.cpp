/*
 * fuzz_load.cpp --
 *
 *	libFuzzer target: every input (see frame.h) becomes one or two real
 *	capture files, which go through the connection list, the choice of
 *	connection, the trace-set loader (reader, decoder, analysis, line
 *	list and, with two files, the clock alignment, then the events pass)
 *	and the detail text and the events of every line. The loads run trapped, as loads from the window do, so a
 *	fatal condition is an orderly load_error and never ends the process:
 *	the fuzzer reports any exit, crash, sanitizer error or leak.
 */

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "analysis/events.h"
#include "fuzz/frame.h"
#include "load/choose.h"
#include "load/loader.h"
#include "text/detail.h"
#include "trace/connlist.h"
#include "trace/loadfail.h"
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

void run_load(const frame::input &in)
{
    int nfiles = (in.mode & 1) ? 2 : 1;
    char *names[2] = {&g_paths[0][0], &g_paths[1][0]};
    g_trace.saved_copy_len = (in.mode & 2) ? 4 * in.param + 1 : 0;
    int number = (in.mode & 4) ? 1 + in.param % 4 : 0;
    try {
        list_connections(names[0]);
        choose_connection(nfiles, names, number);
        load_traces(nfiles, names, 1);
        for (int32_t i = 0; g_trace.loaded && i < g_trace.main.count; i++) {
            segment_detail_text(i, 0);
            check_events(i);
        }
    } catch (const load_error &) {
        unload_traces();
    }
    conn_select_clear();
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
    frame::input in = frame::parse(data, size);
    if (!frame::write_capture(in, 0, g_paths[0]) || !frame::write_capture(in, 1, g_paths[1]))
        return 0;
    g_loadfail.warnings.clear();
    run_load(in);
    return 0;
}
