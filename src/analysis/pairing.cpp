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
 *	Direction questions go through trace/direction.h.
 */

#include "analysis/pairing.h"

#include "analysis/marking.h"
#include "trace/direction.h"

namespace {

/* Highest acknowledgement so far, with what came along with it. */
struct highest_ack_state {
    int32_t ack;       /* low 32 bits of the ack; -1 before any */
    float time;        /* s, time of the record that set it */
    int32_t index;     /* index of that record; -1 before any */
    endpoint dst;      /* destination of that record */
};

bool is_skipped(const seg_record &r)
{
    return (r.mark_flags & MARK_SKIP) != 0;
}

bool has_payload_or_syn(const seg_record &r)
{
    return r.paylen != 0 || (r.tcp_flags & TH_SYN) != 0;
}

/* Widens a 32-bit number kept from an ack back to 64 bits, with sign. */
int64_t widen(int32_t v)
{
    return static_cast<int64_t>(v);
}

/* The low 32 bits of a 64-bit relative number, as signed 32 bits. */
int32_t low32(int64_t v)
{
    return static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint64_t>(v)));
}

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
        if (rk.ack == want) {
            ri.ack_time = rk.time - ri.time;
            ri.acked_by = k;
            rk.acks = i;
            if (ri.ack_time > *longest)
                *longest = ri.ack_time;
            return;
        }
        if (rk.ack > want) {
            ri.acked_by = k;
            rk.acks = i;
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

/* i may take part in the backward pairing as the acknowledgement. */
bool backward_eligible(const seg_record &r, int32_t i)
{
    return (r.mark & MARK_LOST_SEGMENT) == 0 && r.paylen == 0 &&
           r.acks == 0 && i >= 2 && (r.tcp_flags & TH_SYN) == 0;
}

} // namespace

int64_t expected_ack(const seg_record &r)
{
    uint32_t sum = static_cast<uint32_t>(r.paylen) +
                   static_cast<uint32_t>(static_cast<uint64_t>(r.seq));
    if ((r.tcp_flags & TH_SYN) != 0)
        sum += 1u;
    return widen(static_cast<int32_t>(sum));
}

float pair_forward()
{
    seg_record *rec = g_trace.main.rec;
    int32_t count = g_trace.main.count;
    float longest = -1.0f;
    highest_ack_state hi = {};
    hi.ack = -1;
    hi.index = -1;

    for (int32_t i = 0; i < count; i++) {
        seg_record &ri = rec[i];
        ri.ack_time = -1.0f;
        ri.resp_time = -1.0f;
        ri.acked_by = 0;

        if (ri.mark != 0 || is_skipped(ri))
            continue;

        if (has_payload_or_syn(ri))
            search_acknowledgement(rec, count, i, &longest);

        if (ri.ack > widen(hi.ack)) {
            hi.ack = low32(ri.ack);
            hi.time = ri.time;
            hi.index = i;
            hi.dst = destination_of(ri);
        }

        if (hi.index < 0)
            continue;
        if (sent_by(ri, hi.dst) && ri.seq == widen(hi.ack)) {
            ri.resp_time = ri.time - hi.time;
            if (ri.resp_time > longest)
                longest = ri.resp_time;
        }
    }
    return longest;
}

void pair_backward(float longest_sample)
{
    seg_record *rec = g_trace.main.rec;
    int32_t count = g_trace.main.count;

    for (int32_t i = 0; i < count; i++) {
        seg_record &ri = rec[i];
        if (!backward_eligible(ri, i))
            continue;
        int32_t c = backward_candidate(rec, i, longest_sample);
        if (c == 0)
            continue;
        rec[c].ack_time = ri.time - rec[c].time;
        rec[c].acked_by = i;
        ri.acks = c;
    }
}
