/*
 * analyse.cpp --
 *
 *	analyse_trace, the line-list build, the arrival clamp and the color
 *	table the line classes index.
 *
 *	The line list is one malloc'ed array in g_trace.lines with exactly
 *	g_trace.main.count lines; line i describes record i and shares its
 *	packet copy. It is freed with free() by whoever clears the trace
 *	state; analyse_trace frees a list still standing before it builds the
 *	next one.
 *
 *	Host questions ("was this record sent by the left host", "is it
 *	addressed to it") go through trace/direction.h with an endpoint, so
 *	a connection whose two ends share one address is split by its ports.
 */

#include "analysis/analyse.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "analysis/estimator.h"
#include "analysis/marking.h"
#include "analysis/pairing.h"
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
    std::free(g_trace.lines);
    g_trace.lines = nullptr;
}

/* Line i of record r, delay d, before the clamp. */
void fill_line(line_record &line, const seg_record &r, float d,
               const endpoint &left_host)
{
    std::memset(&line, 0, sizeof line);
    line.delay = d;
    line.cls = r.paylen == 0 ? CLS_NODATA : CLS_DATA;
    if (sent_by(r, left_host)) {
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

} // namespace

int32_t reference_record()
{
    const trace_array &t = g_trace.main;
    for (int32_t i = 0; i < t.count; i++)
        if (t.rec[i].ack_time > 0)
            return i;
    return 0;
}

endpoint choose_left_host(int32_t ref)
{
    const seg_record &r = g_trace.main.rec[ref];
    float estimate = estimate_delay(ref, 1);
    if (estimate > r.ack_time)
        return destination_of(r);
    return source_of(r);
}

void build_line_list(const endpoint &left_host)
{
    const trace_array &t = g_trace.main;
    release_line_list();
    if (t.count <= 0)
        return;

    size_t n = static_cast<size_t>(t.count);
    line_record *lines =
        static_cast<line_record *>(std::malloc(n * sizeof(line_record)));
    if (lines == nullptr) {
        std::perror("malloc");
        std::exit(-1);
    }
    g_trace.lines = lines;

    for (int32_t i = 0; i < t.count; i++) {
        float d = estimate_delay(i, 0);
        fill_line(lines[i], t.rec[i], d, left_host);
    }
}

void clamp_arrivals(const endpoint &left_host)
{
    const trace_array &t = g_trace.main;
    line_record *lines = g_trace.lines;
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
        /* A right-host segment acknowledged by a left-host one that was
         * captured earlier: the time stamps run backwards. Keep the line. */
        if (!sent_to(t.rec[k], left_host) && !sent_by(t.rec[i], left_host))
            continue;
        clamp_line(li, lk.t_send);
    }
}

void analyse_trace()
{
    mark_order_check();
    mark_pair_scan();
    float longest_sample = pair_forward();
    pair_backward(longest_sample);

    if (g_trace.main.count <= 0) {
        release_line_list();
        return;
    }

    endpoint left_host = choose_left_host(reference_record());
    build_line_list(left_host);
    clamp_arrivals(left_host);
}
