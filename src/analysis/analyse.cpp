/*
 * analyse.cpp --
 *
 *	analyse_trace, the line-list build, the arrival clamp and the color
 *	table the line classes index.
 *
 *	The line list is one malloc'ed array in g_trace.lines with exactly
 *	g_trace.main.count lines; line i describes record i and shares its
 *	packet copy. It is freed with scratch_free by whoever clears the trace
 *	state; analyse_trace frees a list still standing before it builds the
 *	next one.
 *
 *	Host questions ("was this record sent by the left host", "is it
 *	addressed to it") go through trace/direction.h with an endpoint, so
 *	a connection whose two ends share one address is split by its ports.
 */

#include "analysis/analyse.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <system_error>
#include <thread>

#include "analysis/dest_index.h"
#include "analysis/estimator.h"
#include "analysis/left_host.h"
#include "analysis/marking.h"
#include "analysis/pair_scan_fast.h"
#include "analysis/pairing.h"
#include "analysis/pairing_fast.h"
#include "trace/scratch.h"
#include "capture/loadfail.h"
#include "trace/trace.h"

const char color_table[7][50] = {
    "blue",   /* CLS_DATA */
    "red",    /* CLS_NODATA */
    "green",  /* CLS_DUPACK */
    "orange", /* CLS_RETRANS */
    "purple", /* CLS_LOST */
    "purple", /* CLS_UNUSED */
    "brown"   /* CLS_OUTORDER */
};

namespace {

/* Frees the line list standing in g_trace.lines, if any. */
void release_line_list()
{
    scratch_free(g_trace.lines);
    g_trace.lines = nullptr;
}

/*
 * Every field of line i of record r, with delay d, before
 * the clamp; `from_left` tells whether r was sent by the left host.
 */
void set_line(line_record &line, const seg_record &r, float d, bool from_left)
{
    line.delay = d;
    line.cls = r.paylen == 0 ? CLS_NODATA : CLS_DATA;
    if (from_left) {
        line.dir = 1;
        line.t_send = r.time;
        line.t_recv = r.time + d;
    } else {
        line.dir = 2;
        line.t_send = r.time - d;
        line.t_recv = r.time;
    }
    if (r.mark != 0)
        line.cls = r.mark;
}

/* Line i of record r, delay d, before the clamp; every other byte zero. */
void fill_line(line_record &line, const seg_record &r, float d,
               const endpoint &left_host)
{
    std::memset(&line, 0, sizeof line);
    set_line(line, r, d, sent_by(r, left_host));
}

/* A new line list of count lines, uninitialised; a load failure (load_fail)
 * when there is no memory. */
line_record *new_line_list(int32_t count, bool huge)
{
    size_t bytes = static_cast<size_t>(count) * sizeof(line_record);
    void *p = nullptr;
    if (huge) {
        try {
            p = scratch_alloc(bytes);
        } catch (const std::bad_alloc &) {
            p = nullptr;
        }
    } else {
        p = std::malloc(bytes);
    }
    if (p == nullptr)
        load_fail_errno(-1, "malloc");
    return static_cast<line_record *>(p);
}

/* Pulls line i's arrival back to t, unless its delay would turn negative. */
void clamp_line(line_record &line, float t)
{
    float first = line.t_recv;
    line.t_recv = t;
    line.delay = line.t_recv - line.t_send;
    if (line.delay < 0) {
        line.t_recv = first;
        line.delay = line.t_recv - line.t_send;
    }
}

/*
 * The clamp over every acknowledged line. runs(i, k) tells whether the
 * pair of record i and its acknowledgement k runs between the hosts as
 * captured at the left one (k addressed to the left host, or i sent by
 * it). A right-host segment acknowledged by a left-host one that was
 * captured earlier has time stamps that run backwards: its line is kept.
 */
template <typename Runs>
void clamp_pass(const trace_array &t, line_record *lines, Runs runs)
{
    if (lines == nullptr)
        return;
    for (int32_t i = 0; i < t.count; i++) {
        int64_t k = t.rec[i].acked_by;
        if (k <= 0 || k >= t.count)
            continue;
        line_record &li = lines[i];
        const line_record &lk = lines[k];
        if (!(li.t_recv > lk.t_send))
            continue;
        if (runs(i, k))
            clamp_line(li, lk.t_send);
    }
}

} // namespace

int32_t reference_record()
{
    const trace_array &t = g_trace.main;
    for (int32_t i = 0; i < t.count; i++)
        if (t.rec[i].ack_time > 0)
            return i;
    return 0;
}

namespace {

/* choose_left_host without the evidence's TTL fields. */
endpoint decide_left_host(int32_t ref)
{
    const seg_record &r = g_trace.main.rec[ref];
    float estimate = estimate_delay(ref, 1);
    capture_host_evidence &ev = g_capture_host;
    endpoint left;
    if (named_left_host(&left)) {
        ev.rule = HOST_BY_NAME;
        return left;
    }
    if (ev.by_gaps) {
        ev.rule = HOST_BY_GAPS;
        return ev.gap_host;
    }
    ev.rule = ttl_left_host(&left);
    if (ev.rule != HOST_BY_NONE)
        return left;
    if (handshake_left_host(&left)) {
        ev.rule = HOST_BY_HANDSHAKE;
        return left;
    }
    ev.rule = HOST_BY_REFERENCE;
    if (estimate > r.ack_time)
        return destination_of(r);
    return source_of(r);
}

}  // namespace

endpoint choose_left_host(int32_t ref)
{
    endpoint left = decide_left_host(ref);
    capture_host_note_ttls(left);
    return left;
}

void build_line_list_literal(const endpoint &left_host)
{
    const trace_array &t = g_trace.main;
    release_line_list();
    if (t.count <= 0)
        return;

    line_record *lines = new_line_list(t.count, false);
    g_trace.lines = lines;

    for (int32_t i = 0; i < t.count; i++) {
        float d = estimate_delay(i, 0);
        fill_line(lines[i], t.rec[i], d, left_host);
    }
}

void clamp_arrivals_literal(const endpoint &left_host)
{
    const trace_array &t = g_trace.main;
    clamp_pass(t, g_trace.lines, [&left_host](int32_t i, int64_t k) {
        const seg_record *rec = g_trace.main.rec;
        return sent_to(rec[k], left_host) || sent_by(rec[i], left_host);
    });
}

void build_line_list_fast(const endpoint &left_host, const dest_index *ix)
{
    const trace_array &t = g_trace.main;
    release_line_list();
    if (t.count <= 0)
        return;
    line_record *lines = new_line_list(t.count, true);
    g_trace.lines = lines;

    int32_t left = ix != nullptr ? dest_number_of(*ix, left_host) : DEST_NONE;
    delay_stream delays;
    for (int32_t i = 0; i < t.count; i++) {
        float d = delays.next();
        bool from_left = ix != nullptr ? ix->src[static_cast<size_t>(i)] == left
                                       : sent_by(t.rec[i], left_host);
        set_line(lines[i], t.rec[i], d, from_left);
    }
}

void clamp_arrivals_fast(const endpoint &left_host, const dest_index *ix)
{
    if (ix == nullptr) {
        clamp_arrivals_literal(left_host);
        return;
    }
    int32_t left = dest_number_of(*ix, left_host);
    clamp_pass(g_trace.main, g_trace.lines, [ix, left](int32_t i, int64_t k) {
        return ix->dst[static_cast<size_t>(k)] == left || ix->src[static_cast<size_t>(i)] == left;
    });
}

namespace {

/*
 * The pieces of a split line list, claimed by two threads from either
 * end: the low 32 bits of `ends` are the next piece from the start (the
 * line builder's), the high 32 bits one past the next piece from the end
 * (the round-trip worker's). A piece is claimed by moving its end, so
 * each piece goes to exactly one thread.
 */
struct split_pieces {
    std::atomic<uint64_t> ends;
    int32_t piece;           /* records a piece */
    int32_t count;           /* records of the trace */
    line_record *lines;      /* the worker keeps its round trips here */
};

uint64_t pack_ends(uint32_t low, uint32_t high)
{
    return static_cast<uint64_t>(high) << 32 | low;
}

/* Claims the next piece from the start (`from_start`) or the end; false
 * when the two ends have met. */
bool claim_piece(split_pieces &p, bool from_start, uint32_t *piece)
{
    uint64_t e = p.ends.load(std::memory_order_acquire);
    for (;;) {
        uint32_t low = static_cast<uint32_t>(e), high = static_cast<uint32_t>(e >> 32);
        if (low >= high)
            return false;
        uint64_t next = from_start ? pack_ends(low + 1, high) : pack_ends(low, high - 1);
        if (p.ends.compare_exchange_weak(e, next, std::memory_order_acq_rel,
                                         std::memory_order_acquire)) {
            *piece = from_start ? low : high - 1;
            return true;
        }
    }
}

/* Records [first, end) of piece k. */
int32_t piece_first(const split_pieces &p, uint32_t k)
{
    return static_cast<int32_t>(k) * p.piece;
}

int32_t piece_end(const split_pieces &p, uint32_t k)
{
    int64_t end = static_cast<int64_t>(k + 1) * p.piece;
    return end < p.count ? static_cast<int32_t>(end) : p.count;
}

/* The worker: round trips of pieces from the end, kept in the send and
 * arrival times of their lines until the builder makes the lines. */
void work_round_trips(split_pieces *p)
{
    uint32_t k;
    while (claim_piece(*p, false, &k)) {
        for (int32_t i = piece_first(*p, k); i < piece_end(*p, k); i++) {
            delay_inputs in = delay_inputs_of(i);
            p->lines[i].t_send = in.zero_rtt;
            p->lines[i].t_recv = in.len_rtt;
        }
    }
}

}  // namespace

void build_line_list_split(const endpoint &left_host, const dest_index *ix, int32_t piece)
{
    const trace_array &t = g_trace.main;
    if (piece <= 0 || t.count / 2 < piece) {
        build_line_list_fast(left_host, ix);
        return;
    }
    release_line_list();
    line_record *lines = new_line_list(t.count, true);
    g_trace.lines = lines;

    split_pieces p;
    p.piece = piece;
    p.count = t.count;
    p.lines = lines;
    uint32_t pieces = static_cast<uint32_t>((static_cast<int64_t>(t.count) + piece - 1) / piece);
    p.ends.store(pack_ends(0, pieces));
    std::thread worker;
    try {
        worker = std::thread(work_round_trips, &p);
    } catch (const std::system_error &) {
        /* no second thread: every piece is the builder's */
    }

    int32_t left = ix != nullptr ? dest_number_of(*ix, left_host) : DEST_NONE;
    auto from_left = [&](int32_t i) {
        return ix != nullptr ? ix->src[static_cast<size_t>(i)] == left
                             : sent_by(t.rec[i], left_host);
    };
    delay_stream delays;
    uint32_t k;
    int32_t built = 0;
    while (claim_piece(p, true, &k)) {
        for (int32_t i = piece_first(p, k); i < piece_end(p, k); i++)
            set_line(lines[i], t.rec[i], delays.next(), from_left(i));
        built = piece_end(p, k);
    }
    if (worker.joinable())
        worker.join();
    for (int32_t i = built; i < t.count; i++) {
        delay_inputs in{lines[i].t_send, lines[i].t_recv};
        set_line(lines[i], t.rec[i], delay_from_inputs(in, t.rec[i].paylen), from_left(i));
    }
}

void build_line_list(const endpoint &left_host)
{
    build_line_list_fast(left_host, nullptr);
}

void clamp_arrivals(const endpoint &left_host)
{
    clamp_arrivals_fast(left_host, nullptr);
}

namespace {

/* Records a piece of the line list that two threads share: some tens of
 * microseconds of work, so that neither waits long for the other. */
constexpr int32_t SPLIT_PIECE = 4096;

/* The left host, the line list and the clamp, with index `ix`. */
void analyse_lines(const dest_index *index)
{
    endpoint left_host = choose_left_host(reference_record());
    build_line_list_split(left_host, index, SPLIT_PIECE);
    clamp_arrivals_fast(left_host, index);
}

}  // namespace

void analyse_left_host_again()
{
    if (g_trace.main.count <= 0)
        return;
    dest_index ix;
    analyse_lines(dest_index_make(g_trace.main.rec, g_trace.main.count, ix));
}

void analyse_trace()
{
    seg_record *rec = g_trace.main.rec;
    int32_t count = g_trace.main.count;
    /* A trace analysed afresh has no verdict of the gaps yet. */
    g_capture_host.by_gaps = 0;

    /* One index of endpoints and acks serves the order check, the pair
     * scan, the forward pairing and the line list; none for arrays it
     * does not serve. It reads no mark. */
    dest_index ix;
    const dest_index *index = dest_index_make(rec, count, ix);
    mark_order_check_indexed(index);
    mark_pair_scan_indexed(rec, count, index);
    float longest_sample = pair_forward_indexed(rec, count, index);
    /* The line list and the clamp need only the endpoint numbers. */
    dest_index_drop_search(ix);
    pair_backward(longest_sample);

    if (count <= 0) {
        release_line_list();
        return;
    }

    analyse_lines(index);
}
