/*
 * pairing_pass.h --
 *
 *	What the plain and the fast forms of the acknowledgement pairing
 *	share (pairing.cpp, pairing_fast.cpp): the record predicates, the
 *	writes that link two records, and the forward pass itself, which
 *	takes the acknowledgement search and the host test as parameters so
 *	that the two forms differ only in how they find a record, never in
 *	what they write. Internal to the analysis.
 */

#ifndef WIREPAINT_ANALYSIS_PAIRING_PASS_H
#define WIREPAINT_ANALYSIS_PAIRING_PASS_H

#include <cstdint>

#include "analysis/marking.h"
#include "analysis/pairing.h"
#include "trace/flow.h"
#include "trace/trace.h"

namespace pairing_pass {

inline bool is_skipped(const seg_record &r)
{
    return (r.mark_flags & MARK_SKIP) != 0;
}

inline bool has_payload_or_syn(const seg_record &r)
{
    return r.paylen != 0 || (r.tcp_flags & TH_SYN) != 0;
}

/* Widens a 32-bit number kept from an ack back to 64 bits, with sign. */
inline int64_t widen(int32_t v)
{
    return static_cast<int64_t>(v);
}

/* The low 32 bits of a 64-bit relative number, as signed 32 bits. */
inline int32_t low32(int64_t v)
{
    return static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint64_t>(v)));
}

/* Notes on r that it acknowledges record i: PAIR_ACKS is set for any
 * record but record 0, which leaves it clear. */
inline void set_acks(seg_record &r, int32_t i)
{
    if (i != 0)
        r.pair_flags = static_cast<uint8_t>(r.pair_flags | PAIR_ACKS);
    else
        r.pair_flags = static_cast<uint8_t>(r.pair_flags & ~PAIR_ACKS);
}

/*
 * Links record i with k, the first record addressed to i's source whose
 * ack reaches expected_ack(i): an exact match also gives i its ack_time
 * and may raise *longest; a covering one links only.
 */
inline void link_acknowledgement(seg_record *rec, int32_t i, int32_t k, float *longest)
{
    seg_record &ri = rec[i];
    seg_record &rk = rec[k];
    if (ack_of(rk) == expected_ack(ri)) {
        ri.ack_time = rk.time - ri.time;
        if (ri.ack_time > *longest)
            *longest = ri.ack_time;
    }
    ri.acked_by = k;
    set_acks(rk, i);
}

/* i may take part in the backward pairing as the acknowledgement. */
inline bool backward_eligible(const seg_record &r, int32_t i)
{
    return (r.mark & MARK_LOST_SEGMENT) == 0 && r.paylen == 0 && (r.pair_flags & PAIR_ACKS) == 0 && i >= 2 &&
           (r.tcp_flags & TH_SYN) == 0;
}

/* Pairs acknowledgement i backward with data record c; c 0 is none. */
inline void pair_backward_with(seg_record *rec, int32_t i, int32_t c)
{
    if (c == 0)
        return;
    rec[c].ack_time = rec[i].time - rec[c].time;
    rec[c].acked_by = i;
    set_acks(rec[i], c);
}

/*
 * How many records ahead of itself the forward pass asks for the record
 * it will write. It writes every record it walks, a cache line every
 * record or two, and the processor's own prefetching falls behind such a
 * walk on a large trace (a third of the pass's time there).
 */
constexpr int32_t WRITE_AHEAD = 32;

/*
 * The forward pairing over rec[0 .. count-1]. search(i, &longest) finds
 * and links record i's acknowledgement (link_acknowledgement); it is
 * called in ascending i. from_host(i, h) tells whether record i was sent
 * by the host record h is addressed to. Returns the longest sample.
 */
template <typename Search, typename FromHost>
float forward_pass(seg_record *rec, int32_t count, Search search, FromHost from_host)
{
    float longest = -1.0f;
    int32_t hi_ack = -1;    /* low 32 bits of the highest ack; -1 before any */
    float hi_time = 0.0f;   /* s, time of the record that set it */
    int32_t hi_index = -1;  /* index of that record; -1 before any */

    for (int32_t i = 0; i < count; i++) {
        if (i < count - WRITE_AHEAD)
            __builtin_prefetch(&rec[i + WRITE_AHEAD], 1);
        seg_record &ri = rec[i];
        ri.ack_time = -1.0f;
        ri.resp_time = -1.0f;
        ri.acked_by = 0;

        if (ri.mark != 0 || is_skipped(ri))
            continue;

        if (has_payload_or_syn(ri))
            search(i, &longest);

        if (ack_of(ri) > widen(hi_ack)) {
            hi_ack = low32(ack_of(ri));
            hi_time = ri.time;
            hi_index = i;
        }

        if (hi_index < 0)
            continue;
        if (from_host(i, hi_index) && seq_of(ri) == widen(hi_ack)) {
            ri.resp_time = ri.time - hi_time;
            if (ri.resp_time > longest)
                longest = ri.resp_time;
        }
    }
    return longest;
}

} // namespace pairing_pass

#endif
