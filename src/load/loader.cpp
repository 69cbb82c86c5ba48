/*
 * loader.cpp --
 *
 *	The trace-set loader. One file: read it, analyse it, done. Two files,
 *	the two ends of one connection: read the second argument first, keep
 *	the larger trace as the main trace (the first argument on equal
 *	counts), analyse it, then find an anchor segment whose estimated
 *	one-way delay bridges the two clocks, and take every line's far-end
 *	time from its copy in the peer trace on the corrected clock. The
 *	copies found then give the fit of the peer clock (load/drift.h); with
 *	-k the lines are aligned again on the fitted clock.
 *
 *	A reset before a reopen frees both traces, their copies and the line
 *	list; nothing else frees them. Every failure ends the process, or,
 *	in a load from the window, throws (capture/loadfail.h).
 */

#include "load/loader.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <new>
#include <string>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include "analysis/analyse.h"
#include "analysis/events.h"
#include "analysis/estimator.h"
#include "analysis/left_host.h"
#include "analysis/line.h"
#include "load/choose.h"
#include "load/drift.h"
#include "text/line_text.h"
#include "trace/binread.h"
#include "trace/connlist.h"
#include "trace/dropnote.h"
#include "capture/loadfail.h"
#include "trace/matcher.h"
#include "trace/peer_map.h"
#include "trace/resegment.h"
#include "trace/scratch.h"
#include "trace/flow.h"
#include "trace/trace.h"

namespace {

/* Clock offset of the last two-file load, s; set by align_clocks. */
float g_clock_offset;

/* Per line of the last two-file load: the peer index of its copy, or -1;
 * empty after a one-file load. Set by align_clocks; a large table on a
 * large trace, so kept in scratch storage. */
scratch_vec<int32_t> g_copy_of;

/* Per line of the last two-file load: 1 when its copy holds its bytes
 * cut alike (same first byte and length), so that no other line's copy
 * is looked for in it. Set by align_lines beside g_copy_of. */
scratch_vec<uint8_t> g_cut_alike;

/* What the clock fit and its correction need of the last two-file load,
 * one instance, written by the load (read_one, align_clocks). */
struct clock_bridge {
    int64_t last_stamp;   /* us, first stamp of the file read_one read last */
    int64_t main_stamp;   /* us, first stamp of the main trace's file */
    int64_t peer_stamp;   /* us, first stamp of the peer trace's file */
    float anchor_delay;   /* s, the anchor's one-way delay */
    bool same_numbers;    /* the anchor's copy carries its sequence number:
                           * segments cut otherwise can be found */
};

clock_bridge g_bridge;

const char fatal_unmatched[] = "Fatal: cannot find matched data in two files\n";

void reset_traces()
{
    capture_host_reset();
    scratch_free(g_trace.lines);
    g_trace.lines = nullptr;
    trace_free(&g_trace.main);
    trace_free(&g_trace.peer);
    trace_free(&g_trace.building);
    trace_addresses_clear();
    g_trace.copy_len = g_trace.saved_copy_len;
    g_clock_offset = 0.0f;
    g_copy_of.clear();
    g_cut_alike.clear();
    matcher_reset();
    peer_map_reset();
    drift_reset();
    g_bridge = clock_bridge{};
    events_clear();
}

/* Reads one file into the trace under construction and hands it over. */
trace_array read_one(const char *name)
{
    if (g_trace.verbose == 1)
        std::fprintf(stderr, " reading from %s...", name);
    read_capture(name);
    g_bridge.last_stamp = g_trace.key.t0_sec * 1000000 + g_trace.key.t0_usec;
    if (g_trace.verbose == 1)
        std::fputs(" done.\n", stderr);
    trace_array t = g_trace.building;
    std::memset(&g_trace.building, 0, sizeof g_trace.building);
    return t;
}

/*
 * The load's second thread. Two kinds of work run on it, one at a time:
 *
 *  - Beside the analysis passes, the side passes: the text pass, in a
 *    two-file load the matcher's indexes, then the events
 *    pass (analysis/events.h), which starts with the analysis.
 *  - In the clock alignment of a two-file load, the second half of the
 *    lines: with the indexes built, matching reads them only, and each
 *    line's result is its own. They read only what
 *    the decoder set in the records (the copies, the carried numbers and
 *    identifications), which no analysis pass writes, and write only the
 *    text tables, the events, standard output and the matcher's indexes,
 *    which no analysis pass touches; the clock alignment that uses the indexes
 *    comes after the join. So the two threads give what the analysis
 *    followed by the side passes gives.
 *
 * The thread's failures are kept on it and given to load_fail (or thrown)
 * after the join; a failure on this thread joins it first (before_exit,
 * or the unwinding through helper_thread's destructor). When no thread
 * can be started the work runs at the join, on this thread.
 *
 * The state of the second thread, one instance, set by helper_thread.
 */
/* The lines the second thread aligns, and the clock it aligns them to. */
struct align_job {
    int32_t from, to;           /* line indexes, [from, to) */
    float offset;               /* s, the clock offset */
    float delay;                /* s, the anchor's one-way delay */
    bool fitted;                /* on the fitted clock (g_drift.fit) */
};

struct helper_state {
    std::thread thread;         /* joinable only inside a helper_thread */
    void (*work)();             /* what it runs */
    bool match;                 /* the side passes build the matcher's indexes */
    align_job align;            /* the clock alignment's second half */
    deferred_failure failure;   /* a load_fail it kept; read after the join */
    std::exception_ptr error;   /* any other exception it ended with */
};

helper_state g_helper;

void join_helper()
{
    if (g_helper.thread.joinable())
        g_helper.thread.join();
}

void run_helper()
{
    loadfail_defer_to(&g_helper.failure);
    try {
        g_helper.work();
    } catch (const load_error &) {
        /* kept in g_helper.failure */
    } catch (...) {
        g_helper.error = std::current_exception();
    }
    loadfail_defer_to(nullptr);
}

/* Runs `work` on the second thread; joins it on every way out of its
 * scope, and finish() reports what it failed with. */
struct helper_thread {
    explicit helper_thread(void (*work)())
    {
        g_helper.work = work;
        g_helper.failure = deferred_failure{false, 0, std::string()};
        g_helper.error = nullptr;
        try {
            g_helper.thread = std::thread(run_helper);
            g_loadfail.before_exit = join_helper;
        } catch (const std::system_error &) {
            /* no thread: finish() runs the work here */
        }
    }
    ~helper_thread()
    {
        join_helper();
        g_loadfail.before_exit = nullptr;
    }
    void finish()
    {
        bool threaded = g_helper.thread.joinable();
        join_helper();
        g_loadfail.before_exit = nullptr;
        if (!threaded)
            run_helper();
        if (g_helper.error)
            std::rethrow_exception(g_helper.error);
        if (g_helper.failure.failed)
            load_fail(g_helper.failure.status, g_helper.failure.text);
    }
};

void events_pass()
{
    try {
        find_events();
    } catch (const std::bad_alloc &) {
        load_fail(-1, "malloc: no memory for the events\n");
    }
}

void side_passes()
{
    prime_record_texts();
    if (g_helper.match)
        matcher_prepare();
    events_pass();
}

/*
 * The analysis passes over the main trace, the side passes beside them
 * (the matcher's indexes when `two_files`). The events pass starts with
 * the analysis: it takes the second core while the passes before the
 * pair scan leave it idle, gives way to the scan's own helper
 * (analysis/give_way.h), and is mostly done when the line list wants the
 * core for its second half. Its table takes fresh pages (some 7 bytes a
 * segment more at the load's peak, 86 in all at 50M segments) instead
 * of those the scan would give back; the kernel then clears them on the
 * second core while the scan waits for its own: a 50M-segment load took
 * a median of 16 s over nine runs instead of 19 s.
 */
void analyse_main(bool two_files)
{
    g_helper.match = two_files;
    helper_thread side(side_passes);
    analyse_trace();
    side.finish();
}

[[noreturn]] void fail_unmatched()
{
    load_fail(-1, std::string(fatal_unmatched) + peer_map_no_copy_line());
}

/* The dir of the lines whose main time is their send time, so that
 * their copy in the peer trace gives their arrival. */
constexpr int32_t PEER_RECEIVES = 1;

bool peer_receives(int32_t j)
{
    return g_trace.lines[j].dir == PEER_RECEIVES;
}

/* The peer clock of an alignment: the offset, or with `fitted` the
 * fitted clock, as match_segment takes it. */
struct peer_clock {
    float shift, rate, start;
};

peer_clock clock_for(float offset, bool fitted)
{
    if (!fitted)
        return peer_clock{offset, 0.0f, 0.0f};
    return peer_clock{static_cast<float>(-g_drift.fit.offset),
                      static_cast<float>(peer_rate_correction(g_drift.fit)),
                      static_cast<float>(g_drift.fit.offset)};
}

/* Line j's far-end time from its copy m in the peer trace. */
void take_copy(int32_t j, int32_t m, float offset, bool fitted)
{
    line_record &l = g_trace.lines[j];
    g_copy_of[static_cast<size_t>(j)] = m;
    float t = fitted ? drift_peer_time(g_trace.peer.rec[m].time) : g_trace.peer.rec[m].time + offset;
    if (peer_receives(j))
        l.t_recv = t;
    else
        l.t_send = t;
    l.delay = l.t_recv - l.t_send;
}

/* Whether copy p holds the payload of r cut alike (none, for a segment
 * without payload: then it holds no byte another could look for). */
bool cut_alike(const seg_record &r, const seg_record &p)
{
    return p.paylen == r.paylen && seq_raw_of(p) == seq_raw_of(r);
}

/* A line whose copy the other capture may hold cut otherwise: it is
 * looked for after all lines are aligned (align_resegmented). */
bool may_be_cut_otherwise(int32_t j)
{
    return g_bridge.same_numbers && g_trace.main.rec[j].paylen > 0;
}

/* Lines the search for a copy asks for its index entries ahead: enough
 * for the fetches from memory to overlap, few enough that they are still
 * in the cache when their turn comes. */
constexpr int32_t MATCH_AHEAD = 12;

/*
 * Lines [from, to) of the last two-file load: each line's far-end time
 * from its copy in the peer trace on the corrected clock (the offset, or
 * with `fitted` the fitted clock), nearest to where the anchor's delay
 * puts it; a line without a copy is lost, unless its copy may be cut
 * otherwise. Reads the matcher's indexes, which must be built for the
 * current traces, and writes only those lines and their g_copy_of
 * entries.
 */
void align_lines(int32_t from, int32_t to, float offset, float delay, bool fitted)
{
    const trace_array &main = g_trace.main;
    peer_clock c = clock_for(offset, fitted);
    for (int32_t j = from; j < to; j++) {
        int32_t ahead = j + MATCH_AHEAD;
        if (ahead < to)
            matcher_prefetch(ahead, c.shift, peer_receives(ahead) ? delay : -delay);
        int32_t m = match_segment(j, MATCH_NEAREST, c.shift, peer_receives(j) ? delay : -delay,
                                  c.rate, c.start);
        g_copy_of[static_cast<size_t>(j)] = m;
        g_cut_alike[static_cast<size_t>(j)] = m >= 0 && cut_alike(main.rec[j], g_trace.peer.rec[m]);
        if (m >= 0)
            take_copy(j, m, offset, fitted);
        else if (!may_be_cut_otherwise(j))
            g_trace.lines[j].cls = CLS_LOST;
    }
}

/*
 * The lines with payload that found no copy of their own numbers: their
 * copy is the peer record holding their last byte (trace/resegment.h).
 * Those still without one are lost.
 */
void align_resegmented(float offset, float delay, bool fitted)
{
    if (!g_bridge.same_numbers)
        return;
    const trace_array &main = g_trace.main;
    scratch_vec<reseg_query> q;
    scratch_vec<int32_t> copy;
    scratch_vec<uint8_t> taken;
    try {
        for (int32_t j = 0; j < main.count; j++)
            if (g_copy_of[static_cast<size_t>(j)] < 0 && main.rec[j].paylen > 0)
                q.push_back({j, peer_receives(j) ? delay : -delay});
        if (q.empty())
            return;
        /* A peer record that is a segment's copy cut alike is that
         * segment's: no other segment's copy. */
        taken.assign(static_cast<size_t>(g_trace.peer.count), 0);
        for (int32_t j = 0; j < main.count; j++)
            if (g_cut_alike[static_cast<size_t>(j)])
                taken[static_cast<size_t>(g_copy_of[static_cast<size_t>(j)])] = 1;
        copy.assign(q.size(), -1);
        peer_clock c = clock_for(offset, fitted);
        match_resegmented(q.data(), static_cast<int32_t>(q.size()), taken.data(), c.shift, c.rate,
                          c.start, copy.data());
    } catch (const std::bad_alloc &) {
        load_fail(-1, "malloc: no memory for matching segments cut otherwise\n");
    }
    for (size_t k = 0; k < q.size(); k++) {
        if (copy[k] >= 0)
            take_copy(q[k].i, copy[k], offset, fitted);
        else
            g_trace.lines[q[k].i].cls = CLS_LOST;
    }
}

void align_second_half()
{
    const align_job &job = g_helper.align;
    align_lines(job.from, job.to, job.offset, job.delay, job.fitted);
}

/* Every line on the clock of `fitted`. The lines are independent of
 * each other and the matcher's indexes are built (the side passes did
 * it): the second half goes to the second thread. */
void align_all(float offset, float delay, bool fitted)
{
    const trace_array &main = g_trace.main;
    int32_t half = main.count / 2;
    g_helper.align = align_job{half, main.count, offset, delay, fitted};
    helper_thread second(align_second_half);
    align_lines(0, half, offset, delay, fitted);
    second.finish();
    align_resegmented(offset, delay, fitted);
    g_drift.corrected = fitted;
}

/* Puts the lines on the fitted clock when asked to and there is a fit;
 * says on standard error when there is none. */
void apply_drift_wish()
{
    if (!g_drift.correct)
        return;
    if (!g_drift.fit.ok || !g_drift.resolved) {
        std::fprintf(stderr,
                     "wirepaint: -k: no clock fit possible (%s); the clocks stay aligned by one offset\n",
                     g_drift.fit.ok ? g_drift.why_not : g_drift.fit.why);
        return;
    }
    align_all(g_clock_offset, g_bridge.anchor_delay, true);
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
    /* The anchor's copy tells whether both captures carry the same
     * sequence numbers; then an identification match must carry them too. */
    g_bridge.same_numbers = seq_raw_of(main.rec[anchor]) == seq_raw_of(peer.rec[copy]);
    matcher_same_numbers(g_bridge.same_numbers);
    float d = g_trace.lines[anchor].dir == 1 ? e : -e;
    float delay = e;
    float sum = d + main.rec[anchor].time;
    float offset = sum - peer.rec[copy].time;
    g_clock_offset = offset;
    g_bridge.anchor_delay = delay;

    g_copy_of.assign(static_cast<size_t>(main.count), -1);
    g_cut_alike.assign(static_cast<size_t>(main.count), 0);
    align_all(offset, delay, false);
    drift_fit_lines(g_trace.lines, g_copy_of.data(), main.count, PEER_RECEIVES, offset);
    g_drift.start_gap = static_cast<double>(g_bridge.peer_stamp - g_bridge.main_stamp) / 1e6;
    drift_note_start(offset);
    apply_drift_wish();
}

/*
 * With two captures and no host named, the gaps between the copies tell
 * where the main capture was taken, however short the path. When they
 * put it at the other end than the analysis chose, the lines are built
 * again with that host, as a load naming it would build them.
 */
void decide_by_gaps()
{
    if (g_left_choice.outcome == LEFT_NAMED_TAKEN)
        return;
    endpoint host;
    int pairs = 0, votes = 0;
    if (!gap_left_host(&host, &pairs, &votes))
        return;
    capture_host_evidence &ev = g_capture_host;
    ev.by_gaps = 1;
    ev.gap_host = host;
    ev.pairs = pairs;
    ev.votes = votes;
    bool left_is_source = g_trace.lines[0].dir == 1;
    if (sent_by(g_trace.main.rec[0], host) == left_is_source) {
        ev.rule = HOST_BY_GAPS;
        return;
    }
    analyse_left_host_again();
}

}  // namespace

float loader_clock_offset()
{
    return g_clock_offset;
}

int loader_correct_drift(int on)
{
    g_drift.correct = on != 0;
    if (!g_trace.loaded || g_trace.peer.count == 0 || !g_drift.fitted)
        return 0;
    if (on) {
        bool was = g_drift.corrected;
        apply_drift_wish();
        return g_drift.corrected != was;
    }
    if (!g_drift.corrected)
        return 0;
    align_all(g_clock_offset, g_bridge.anchor_delay, false);
    return 1;
}

int loader_left_role()
{
    if (g_trace.main.count == 0 || g_trace.lines == nullptr)
        return 0;
    const seg_record &r0 = g_trace.main.rec[0];
    endpoint left = g_trace.lines[0].dir == 1 ? source_of(r0) : destination_of(r0);
    return sent_by(r0, left) == sent_by(r0, g_peer_map.main_end[0]) ? 0 : 1;
}

int32_t loader_copy_of(int32_t line)
{
    if (line < 0 || static_cast<size_t>(line) >= g_copy_of.size())
        return -1;
    return g_copy_of[static_cast<size_t>(line)];
}

namespace {

/*
 * Puts the peer trace in the main trace's terms when a middlebox between
 * the capture points rewrote addresses, ports, numbers or identifications
 * (trace/peer_map.h). Captures that agree are left as read.
 */
void map_peer()
{
    try {
        peer_map_learn();
        peer_map_apply();
    } catch (const std::bad_alloc &) {
        load_fail(-1, "malloc: no memory for comparing the two captures\n");
    }
}

/* With -V, what map_peer found, on standard error. */
void say_peer_map()
{
    if (g_trace.verbose != 1)
        return;
    for (const std::string &line : peer_map_lines(loader_left_role()))
        std::fputs(line.c_str(), stderr);
}

/* The load proper; load_traces gives its idle scratch memory back. */
void load_files(int nfiles, char *const names[], int reset, bool retried = false)
{
    if (reset)
        reset_traces();
    capture_host_reset();

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
    g_bridge.peer_stamp = g_bridge.last_stamp;
    /* The matcher's indexes of this peer trace are built beside the
     * analysis (side_passes), where the second core has time to spare:
     * built during the next read, they slowed it by a third. */
    g_trace.main = read_one(names[0]);
    g_bridge.main_stamp = g_bridge.last_stamp;
    if (g_trace.peer.count > g_trace.main.count) {
        trace_array t = g_trace.main;
        g_trace.main = g_trace.peer;
        g_trace.peer = t;
        std::swap(g_bridge.main_stamp, g_bridge.peer_stamp);
    }
    g_trace.duration = trace_span(&g_trace.main);
    map_peer();
    /* Two files read without a choice whose first connections are two
     * different ones: the first file's first connection is drawn with its
     * counterpart in the second, when the evidence finds one. */
    if (g_peer_map.no_copy && g_connsel.choices.empty() && !retried &&
        choose_counterpart_of_first(names)) {
        load_files(nfiles, names, 1, true);
        return;
    }
    analyse_main(true);
    if (g_trace.main.count == 0)
        fail_unmatched();
    decide_by_gaps();
    align_clocks();
    say_peer_map();
    g_trace.loaded = 1;
}

}  // namespace

void load_traces(int nfiles, char *const names[], int reset)
{
    dropnote_reset_counts();
    load_files(nfiles, names, reset);
    scratch_trim();
    dropnote_write_summary();
}

void unload_traces()
{
    reset_traces();
    g_trace.loaded = 0;
}
