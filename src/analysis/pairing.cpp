/*
 * pairing.cpp --
 *
 *	Forward and backward acknowledgement pairing over the main trace.
 *
 *	The forward pass carries one piece of state through a run: the highest
 *	acknowledgement number seen on an unmarked record of either direction,
 *	kept as 32 bits (sign-extended when compared) together with the time,
 *	index and destination of the record that set it, and the longest time
 *	sample recorded, which the backward pass takes as its time bound.
 *	That state lives on the stack of one run; nothing survives the call.
 *
 *	This file holds the plain forms, which ask the direction test about
 *	every record they pass and walk the trace record by record; the
 *	analysis runs the fast forms (pairing_fast.cpp), which give the same
 *	fields. Both share the pass itself and every write (pairing_pass.h).
 *
 *	Direction questions go through trace/direction.h.
 */

#include "analysis/pairing.h"

#include "analysis/marking.h"
#include "analysis/pairing_fast.h"
#include "analysis/pairing_pass.h"
#include "trace/direction.h"

using namespace pairing_pass;

namespace {

/*
 * Searches rec[i+1 ..] for the first record addressed to i's source that
 * acknowledges i exactly or covers it, and links the two. Updates
 * *longest with an exact match's ack_time.
 */
void search_acknowledgement(seg_record *rec, int32_t count, int32_t i,
                            float *longest)
{
    seg_record &ri = rec[i];
    int64_t want = expected_ack(ri);

    for (int32_t k = i + 1; k < count; k++) {
        seg_record &rk = rec[k];
        if (!addressed_to_source(rk, ri))
            continue;
        if (ack_of(rk) >= want) {
            link_acknowledgement(rec, i, k, longest);
            return;
        }
    }
}

/* Oldest data record that acknowledgement i may be paired with; 0 none. */
int32_t backward_candidate(const seg_record *rec, int32_t i,
                           float longest_sample)
{
    const seg_record &ri = rec[i];
    int32_t candidate = 0;

    for (int32_t k = i - 1; k >= 1; k--) {
        const seg_record &rk = rec[k];
        if ((rk.mark & MARK_LOST_SEGMENT) != 0)
            continue;
        if (ri.time - rk.time > longest_sample)
            break;
        if (rk.acked_by != 0)
            continue;
        if (rk.paylen != 0)
            candidate = k;
    }
    return candidate;
}

} // namespace

float pair_forward_literal(seg_record *rec, int32_t count)
{
    auto search = [rec, count](int32_t i, float *longest) {
        search_acknowledgement(rec, count, i, longest);
    };
    auto from_host = [rec](int32_t i, int32_t h) { return sent_by(rec[i], destination_of(rec[h])); };
    return forward_pass(rec, count, search, from_host);
}

void pair_backward_literal(seg_record *rec, int32_t count, float longest_sample)
{
    pair_backward_literal_from(rec, count, 0, longest_sample);
}

void pair_backward_literal_from(seg_record *rec, int32_t count, int32_t from,
                                float longest_sample)
{
    for (int32_t i = from; i < count; i++) {
        if (!backward_eligible(rec[i], i))
            continue;
        pair_backward_with(rec, i, backward_candidate(rec, i, longest_sample));
    }
}

float pair_forward()
{
    return pair_forward_fast(g_trace.main.rec, g_trace.main.count);
}

void pair_backward(float longest_sample)
{
    pair_backward_fast(g_trace.main.rec, g_trace.main.count, longest_sample);
}
