/*
 * estimator.cpp --
 *
 *	estimate_delay and the estimator's held values.
 *
 *	One call builds two small tables from the records of its window (the
 *	ten records before the record, or records 0 to 9 for the first ten),
 *	one of ack_time and one of resp_time samples, each keyed by payload
 *	length and smoothed as 0.9 old + 0.1 new. A window holds at most ten
 *	records, so each table holds at most ten keys: both are fixed scratch
 *	on the stack, built afresh and dropped by every call.
 *
 *	Width rules: table values, held values, the round trips and the result
 *	are 32-bit floats and are compared as floats; the smoothing and the
 *	final subtraction are done in double and stored back as float.
 */

#include "analysis/estimator.h"

#include "trace/trace.h"

analysis_state g_analysis = {-1.0f, -1.0f};

namespace {

/* Records before the estimated one that feed its samples. */
constexpr int32_t WINDOW = 10;

/* A smoothing table: one entry per payload length, first-seen order. */
struct sample_table {
    int32_t key[WINDOW];   /* payload length */
    float value[WINDOW];   /* smoothed sample, s */
    int32_t used;          /* entries in use */
};

/* Index of key n in t, or -1. */
int32_t table_find(const sample_table &t, int32_t n)
{
    for (int32_t e = 0; e < t.used; e++)
        if (t.key[e] == n)
            return e;
    return -1;
}

/* Adds sample s under key n: smooths an existing entry, else appends. */
void table_add(sample_table &t, int32_t n, float s)
{
    int32_t e = table_find(t, n);
    if (e >= 0) {
        t.value[e] = static_cast<float>(0.9 * static_cast<double>(t.value[e]) +
                                        0.1 * static_cast<double>(s));
        return;
    }
    if (t.used >= WINDOW)
        return; /* cannot happen: one entry per window record at most */
    t.key[t.used] = n;
    t.value[t.used] = s;
    t.used++;
}

/* Value under key n, or `none` when there is no such entry. */
float table_get(const sample_table &t, int32_t n, float none)
{
    int32_t e = table_find(t, n);
    return e >= 0 ? t.value[e] : none;
}

/* The round trip for length n: resp_time when larger than ack_time. */
float round_trip(const sample_table &acks, const sample_table &resps,
                 int32_t n)
{
    float a = table_get(acks, n, -1.0f);
    int32_t e = table_find(resps, n);
    if (e >= 0 && resps.value[e] > a)
        return resps.value[e];
    return a;
}

/* Adds the samples of one window record to both tables. */
void add_samples(int32_t paylen, float ack_time, float resp_time, bool skipped,
                 sample_table &acks, sample_table &resps)
{
    if (skipped)
        return;
    if (ack_time > 0)
        table_add(acks, paylen, ack_time);
    if (resp_time > 0)
        table_add(resps, paylen, resp_time);
}

/* The first record after the window of record `index`. */
int32_t window_end(int32_t index)
{
    return index > WINDOW ? index : WINDOW;
}

/* Fills both tables from the window of record `index`. */
void sample_window(const trace_array &t, int32_t index, sample_table &acks,
                   sample_table &resps)
{
    int32_t end = window_end(index);
    for (int32_t k = end - WINDOW; k < end && k < t.count; k++) {
        const seg_record &r = t.rec[k];
        add_samples(r.paylen, r.ack_time, r.resp_time, (r.mark_flags & MARK_SKIP) != 0, acks,
                    resps);
    }
}

/*
 * Combines the two round trips with the held values. b0 is the
 * payload-free round trip, bl the one for length `len`.
 */
float combine(float b0, float bl, int32_t len)
{
    analysis_state &s = g_analysis;
    float zero_rtt;

    if (b0 < 0) {
        zero_rtt = s.held_zero_rtt;
    } else {
        if (b0 > s.held_zero_rtt)
            s.held_zero_rtt = b0;
        zero_rtt = b0;
    }
    if (zero_rtt < 0) {
        s.held_zero_rtt = bl;
        zero_rtt = bl;
    }
    float z = s.held_zero_rtt;

    float x = bl;
    if (len > 0 && x < zero_rtt)
        x = s.held_len_rtt;
    if (x < zero_rtt)
        x = z;

    float len_rtt;
    if (len > 0) {
        if (x >= 0) {
            s.held_len_rtt = x;
            len_rtt = x;
        } else {
            len_rtt = s.held_len_rtt;
        }
    } else {
        len_rtt = x >= 0 ? x : z;
    }
    return static_cast<float>(static_cast<double>(len_rtt) -
                              0.5 * static_cast<double>(zero_rtt));
}

/* The round trips of the two tables of a window, for length `len`. */
delay_inputs inputs_from(const sample_table &acks, const sample_table &resps, int32_t len)
{
    return delay_inputs{round_trip(acks, resps, 0), round_trip(acks, resps, len)};
}

/* The estimate from the two tables of a window, for length `len`. */
float estimate_from(const sample_table &acks, const sample_table &resps, int32_t len)
{
    return delay_from_inputs(inputs_from(acks, resps, len), len);
}

} // namespace

void analysis_state_reset()
{
    g_analysis.held_zero_rtt = -1.0f;
    g_analysis.held_len_rtt = -1.0f;
}

float estimate_delay(int32_t index, int32_t reset)
{
    if (reset != 0)
        analysis_state_reset();

    const trace_array &t = g_trace.main;
    if (index < 0 || index >= t.count)
        return -0.5f;

    sample_table acks = {};
    sample_table resps = {};
    sample_window(t, index, acks, resps);
    return estimate_from(acks, resps, t.rec[index].paylen);
}

delay_inputs delay_inputs_of(int32_t index)
{
    const trace_array &t = g_trace.main;
    sample_table acks, resps;
    acks.used = resps.used = 0;
    sample_window(t, index, acks, resps);
    return inputs_from(acks, resps, t.rec[index].paylen);
}

float delay_from_inputs(const delay_inputs &in, int32_t len)
{
    return combine(in.zero_rtt, in.len_rtt, len);
}

namespace {

delay_stream::entry entry_of(const seg_record &r)
{
    return delay_stream::entry{r.paylen, r.ack_time, r.resp_time, (r.mark_flags & MARK_SKIP) != 0};
}

}  // namespace

delay_stream::delay_stream() : index_(0), count_(g_trace.main.count)
{
    for (int32_t k = 0; k < WINDOW && k < count_; k++)
        ring_[k] = entry_of(g_trace.main.rec[k]);
}

float delay_stream::next()
{
    const seg_record *rec = g_trace.main.rec;
    int32_t end = window_end(index_);
    /* The window moved on by one: its newest record replaces its oldest. */
    if (index_ > WINDOW && end - 1 < count_)
        ring_[(end - 1) % WINDOW] = entry_of(rec[end - 1]);
    sample_table acks, resps;
    acks.used = resps.used = 0;
    for (int32_t k = end - WINDOW; k < end && k < count_; k++) {
        const entry &e = ring_[k % WINDOW];
        add_samples(e.paylen, e.ack_time, e.resp_time, e.skipped, acks, resps);
    }
    return estimate_from(acks, resps, rec[index_++].paylen);
}
