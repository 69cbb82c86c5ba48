/*
 * estimator.h --
 *
 *	The one-way delay estimator. A capture taken at one end gives one time
 *	per segment; the line list adds or subtracts an estimated one-way
 *	delay to place the other end. The estimate for a record comes from
 *	the ack_time and resp_time samples of the ten records before it,
 *	smoothed per payload length, and from two values held from call to
 *	call so that a record without samples around it still gets one.
 */

#ifndef WIREPAINT_ANALYSIS_ESTIMATOR_H
#define WIREPAINT_ANALYSIS_ESTIMATOR_H

#include <cstdint>

/*
 * The estimator's process-wide state: one instance, g_analysis. Both
 * values are written only by estimate_delay (and analysis_state_reset);
 * they carry over between calls, so the order of calls is part of every
 * result.
 */
struct analysis_state {
    /* s; the largest payload-free round trip seen since the last reset,
     * or, while none was seen, the length round trip that stood in for
     * one. -1 at process start and after a reset. Never decreases between
     * resets. */
    float held_zero_rtt;
    /* s; the last length round trip accepted for a record with payload.
     * -1 at process start and after a reset. */
    float held_len_rtt;
};

extern analysis_state g_analysis;

/*
 * analysis_state_reset --
 *	Puts g_analysis back to its process-start state (both values -1).
 */
void analysis_state_reset();

/*
 * estimate_delay --
 *	The one-way delay estimate of main-trace record `index`, in seconds:
 *	the round trip for the record's payload length minus half the
 *	payload-free round trip. With `reset` nonzero both held values are
 *	set to -1 first. -0.5 when no sample exists at all.
 *	Reads paylen, ack_time, resp_time and the skip flag of records of
 *	g_trace.main; writes nothing in them. An index outside the main trace
 *	reads no record and gives -0.5 (after the reset, when asked for).
 *	Side effects: g_analysis.
 */
float estimate_delay(int32_t index, int32_t reset);

/*
 * The two round trips an estimate is made of, before the held values
 * come in: the payload-free one and the one for the record's length, s,
 * or -1 when the record's window gives none.
 */
struct delay_inputs {
    float zero_rtt;
    float len_rtt;
};

/*
 * delay_inputs_of --
 *	The round trips of main-trace record `index` (0 <= index < count),
 *	from the samples of its window as estimate_delay reads them. Reads
 *	records of g_trace.main only: no side effects, so that records can be
 *	worked on out of order and on several threads.
 */
delay_inputs delay_inputs_of(int32_t index);

/*
 * delay_from_inputs --
 *	The estimate of a record of payload length `len` whose round trips
 *	are `in`: estimate_delay's result when the records are taken in the
 *	same order. Side effects: g_analysis.
 */
float delay_from_inputs(const delay_inputs &in, int32_t len);

/*
 * delay_stream --
 *	The estimates of main-trace records 0, 1, 2, ... in that order, as
 *	the calls estimate_delay(0, 0), estimate_delay(1, 0), ... give them,
 *	with the same effect on g_analysis, for a pass that wants every
 *	record's estimate: the samples of the last ten records are kept in a
 *	small ring instead of being read from the records again for each
 *	estimate. next() must not be called more than g_trace.main.count
 *	times, and the main trace must not change while the stream is used.
 */
class delay_stream {
public:
    delay_stream();
    float next();

    /* The samples one record gives a window. */
    struct entry {
        int32_t paylen;
        float ack_time;   /* s; counted when > 0 and not skipped */
        float resp_time;  /* s; likewise */
        bool skipped;     /* the skip flag: no sample at all */
    };

private:
    enum { WINDOW = 10 };
    entry ring_[WINDOW];  /* record k's samples at k % WINDOW */
    int32_t index_;       /* the record next() estimates */
    int32_t count_;       /* records of the main trace */
};

#endif
