/*
 * loader.cpp --
 *
 *	The trace-set loader. One file: read it, analyse it, done. Two files,
 *	the two ends of one connection: read the second argument first, keep
 *	the larger trace as the main trace (the first argument on equal
 *	counts), analyse it, then find an anchor segment whose estimated
 *	one-way delay bridges the two clocks, and take every line's far-end
 *	time from its copy in the peer trace on the corrected clock.
 *
 *	A reset before a reopen frees both traces, their copies and the line
 *	list; nothing else frees them. Every failure ends the process, or,
 *	in a load from the window, throws (trace/loadfail.h).
 */

#include "load/loader.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "analysis/analyse.h"
#include "analysis/estimator.h"
#include "analysis/line.h"
#include "text/line_text.h"
#include "trace/binread.h"
#include "trace/loadfail.h"
#include "trace/matcher.h"
#include "trace/scratch.h"
#include "trace/trace.h"

namespace {

/* Clock offset of the last two-file load, s; set by align_clocks. */
float g_clock_offset;

/* Per line of the last two-file load: the peer index of its copy, or -1;
 * empty after a one-file load. Set by align_clocks; a large table on a
 * large trace, so kept in scratch storage (huge pages). */
scratch_vec<int32_t> g_copy_of;

const char fatal_unmatched[] = "Fatal: cannot find matched data in two files\n";

void reset_traces()
{
    scratch_free(g_trace.lines);
    g_trace.lines = nullptr;
    trace_free(&g_trace.main);
    trace_free(&g_trace.peer);
    trace_free(&g_trace.building);
    trace_addresses_clear();
    g_trace.copy_len = g_trace.saved_copy_len;
    g_clock_offset = 0.0f;
    g_copy_of.clear();
    matcher_reset();
}

/* Reads one file into the trace under construction and hands it over. */
trace_array read_one(const char *name)
{
    if (g_trace.verbose == 1)
        std::fprintf(stderr, " reading from %s...", name);
    read_capture(name);
    if (g_trace.verbose == 1)
        std::fputs(" done.\n", stderr);
    trace_array t = g_trace.building;
    std::memset(&g_trace.building, 0, sizeof g_trace.building);
    return t;
}

/*
 * The side passes on a second thread, beside the analysis passes: the
 * text pass, and in a two-file load the matcher's indexes of the peer
 * trace. They read only what the decoder set in the records (the copies,
 * the carried numbers and identifications), which no analysis pass
 * writes, and write only the text tables, standard output and the
 * matcher's indexes, which no analysis pass touches; the clock alignment
 * that uses the indexes comes after the join. So the two threads give
 * what the analysis followed by the side passes gives. The thread's
 * failures are kept on it and given to load_fail (or thrown) after the
 * join; a failure of the analysis joins it first (before_exit, or the
 * unwinding through side_thread's destructor). When no thread can be
 * started the side passes run after the analysis, on this thread.
 *
 * The state of the side thread, one instance, set by side_thread only.
 */
struct side_state {
    std::thread thread;         /* joinable only inside analyse_main */
    bool match;                 /* also build the matcher's indexes */
    deferred_failure failure;   /* a load_fail it kept; read after the join */
    std::exception_ptr error;   /* any other exception it ended with */
};

side_state g_side;

void join_side_thread()
{
    if (g_side.thread.joinable())
        g_side.thread.join();
}

void run_side_passes()
{
    loadfail_defer_to(&g_side.failure);
    try {
        prime_record_texts();
        if (g_side.match)
            matcher_prepare();
    } catch (const load_error &) {
        /* kept in g_side.failure */
    } catch (...) {
        g_side.error = std::current_exception();
    }
    loadfail_defer_to(nullptr);
}

/* Starts the side passes, joins them on every way out of its scope. */
struct side_thread {
    explicit side_thread(bool match)
    {
        g_side.match = match;
        g_side.failure = deferred_failure{false, 0, std::string()};
        g_side.error = nullptr;
        try {
            g_side.thread = std::thread(run_side_passes);
            g_loadfail.before_exit = join_side_thread;
        } catch (const std::system_error &) {
            /* no thread: finish() runs the passes here */
        }
    }
    ~side_thread()
    {
        join_side_thread();
        g_loadfail.before_exit = nullptr;
    }
    void finish()
    {
        bool threaded = g_side.thread.joinable();
        join_side_thread();
        g_loadfail.before_exit = nullptr;
        if (!threaded)
            run_side_passes();
        if (g_side.error)
            std::rethrow_exception(g_side.error);
        if (g_side.failure.failed)
            load_fail(g_side.failure.status, g_side.failure.text);
    }
};

/* The analysis passes over the main trace, the side passes beside them
 * (the matcher's indexes when `two_files`). */
void analyse_main(bool two_files)
{
    side_thread side(two_files);
    analyse_trace();
    side.finish();
}

[[noreturn]] void fail_unmatched()
{
    load_fail(-1, fatal_unmatched);
}

/*
 * Finds the anchor (the first record with a positive delay estimate and
 * a copy in the peer trace), sets the clock offset from it and corrects
 * every line. The estimates continue from the state the line-list build
 * left. Among several candidate copies of a line, the one nearest to
 * where the anchor's delay puts the copy wins.
 */
void align_clocks()
{
    const trace_array &main = g_trace.main;
    const trace_array &peer = g_trace.peer;
    int32_t anchor = -1, copy = -1;
    float e = 0.0f;
    for (int32_t i = 0; i < main.count; i++) {
        e = estimate_delay(i, 0);
        if (!(e > 0.0f))
            continue;
        copy = match_segment(i, MATCH_FIRST, -1.0f);
        if (copy >= 0) {
            anchor = i;
            break;
        }
    }
    if (anchor < 0)
        fail_unmatched();
    float d = g_trace.lines[anchor].dir == 1 ? e : -e;
    float delay = e;
    float sum = d + main.rec[anchor].time;
    float offset = sum - peer.rec[copy].time;
    g_clock_offset = offset;

    g_copy_of.assign(static_cast<size_t>(main.count), -1);
    for (int32_t j = 0; j < main.count; j++) {
        line_record &l = g_trace.lines[j];
        int32_t m = match_segment(j, MATCH_NEAREST, offset, l.dir == 1 ? delay : -delay);
        g_copy_of[static_cast<size_t>(j)] = m;
        if (m < 0) {
            l.cls = CLS_LOST;
            continue;
        }
        float t = peer.rec[m].time + offset;
        if (l.dir == 1)
            l.t_recv = t;
        else
            l.t_send = t;
        l.delay = l.t_recv - l.t_send;
    }
}

}  // namespace

float loader_clock_offset()
{
    return g_clock_offset;
}

int32_t loader_copy_of(int32_t line)
{
    if (line < 0 || static_cast<size_t>(line) >= g_copy_of.size())
        return -1;
    return g_copy_of[static_cast<size_t>(line)];
}

namespace {

/* The load proper; load_traces gives its idle scratch memory back. */
void load_files(int nfiles, char *const names[], int reset)
{
    if (reset)
        reset_traces();

    if (nfiles < 2) {
        g_trace.main = read_one(names[0]);
        if (g_trace.main.count == 0) {
            std::fprintf(stderr, "wirepaint: no TCP segment in %s\n", names[0]);
            return;
        }
        analyse_main(false);
        g_trace.loaded = 1;
        return;
    }

    g_trace.peer = read_one(names[1]);
    g_trace.main = read_one(names[0]);
    if (g_trace.peer.count > g_trace.main.count) {
        trace_array t = g_trace.main;
        g_trace.main = g_trace.peer;
        g_trace.peer = t;
    }
    g_trace.duration = trace_span(&g_trace.main);
    analyse_main(true);
    if (g_trace.main.count == 0)
        fail_unmatched();
    align_clocks();
    g_trace.loaded = 1;
}

}  // namespace

void load_traces(int nfiles, char *const names[], int reset)
{
    load_files(nfiles, names, reset);
    scratch_trim();
}

void unload_traces()
{
    reset_traces();
    g_trace.loaded = 0;
}
