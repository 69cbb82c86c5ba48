/*
 * events.h --
 *
 *	The TCP analysis events of the main trace: for every segment the set
 *	of event kinds that apply to it (retransmission, duplicate ACK #n,
 *	zero window, window full, keep-alive, previous segment not captured,
 *	...), named as the common packet analyser names its tcp.analysis
 *	fields, and wirepaint's own timeout_retransmission and stall with its
 *	cause. Beside them, per direction that sends data, where the time of
 *	the connection went: sending freely, held by the receiver's window, in
 *	loss recovery, stalled, or idle.
 *
 *	find_events is one pass in segment order over the records of the
 *	main trace; it reads only what the decoder set in them (and the TCP
 *	options of the SYNs) and writes only g_events, so it depends on no
 *	analysis pass: the loader runs it beside them, on its second thread.
 */

#ifndef WIREPAINT_ANALYSIS_EVENTS_H
#define WIREPAINT_ANALYSIS_EVENTS_H

#include <cstdint>
#include <string>
#include <vector>

#include "analysis/waits.h"
#include "trace/scratch.h"

struct seg_record;
struct tcp_fields;

/* The event kinds, one bit each in seg_events.kinds. */
enum event_kind {
    EV_ACK_LOST_SEGMENT,
    EV_DUPLICATE_ACK,
    EV_RETRANSMISSION,
    EV_FAST_RETRANSMISSION,
    EV_OUT_OF_ORDER,
    EV_SPURIOUS_RETRANSMISSION,
    EV_LOST_SEGMENT,
    EV_KEEP_ALIVE,
    EV_KEEP_ALIVE_ACK,
    EV_ZERO_WINDOW,
    EV_ZERO_WINDOW_PROBE,
    EV_ZERO_WINDOW_PROBE_ACK,
    EV_WINDOW_FULL,
    EV_WINDOW_UPDATE,
    EV_TIMEOUT_RETRANSMISSION,
    EV_STALL,
    EVENT_KINDS
};

/* The kinds' names, indexed by event_kind: "ack_lost_segment", ... */
extern const char *const event_kind_names[EVENT_KINDS];

/* The kinds a window marks as warnings (the rest are notes). */
bool event_is_warning(int kind);

/* What a stall waited for. */
enum stall_cause {
    STALL_NONE,
    STALL_TIMEOUT,       /* data outstanding, ended by a timeout retransmission */
    STALL_ZERO_WINDOW,   /* the other side advertised a zero window */
    STALL_APPLICATION,   /* nothing outstanding, window open, and the
                          * direction that sent the last data before the
                          * silence sends the next data after it (when
                          * the other side sends next, the silence was
                          * that side's turn, a wait: no stall) */
    STALL_UNKNOWN,
    STALL_CAUSES
};

/* The causes' names, indexed by stall_cause: "", "timeout", ... */
extern const char *const stall_cause_names[STALL_CAUSES];

/* The events of one segment. */
struct seg_events {
    uint16_t kinds;      /* bit k set: event_kind k applies */
    uint8_t cause;       /* stall_cause of a stall; STALL_NONE otherwise */
    uint8_t dir;         /* 0: the direction of record 0; 1: the other */
    int32_t ref;         /* duplicate_ack: index of the duplicated ACK;
                          * stall: index of the direction's segment before
                          * the stall; otherwise -1 */
    int32_t dup_num;     /* duplicate_ack: n of "#n"; otherwise 0 */
};

/* What the events table keeps for every segment: its seg_events without
 * the two references, which only duplicate ACKs and stalls have (4 bytes
 * a segment instead of 12). */
struct seg_event_bits {
    uint16_t kinds;      /* as seg_events */
    uint8_t cause;
    uint8_t dir;
};

/* The references of one segment whose seg_events has any (ref other
 * than -1 or dup_num other than 0). */
struct seg_event_refs {
    int32_t index;       /* the main record */
    int32_t ref;         /* as seg_events */
    int32_t dup_num;
};

/* Where the time of one direction went, in seconds of the connection. */
enum time_share {
    SHARE_SENDING,       /* data in flight, nothing limiting */
    SHARE_RWND,          /* in flight within one MSS of the peer's window */
    SHARE_RECOVERY,      /* from a retransmission or the third duplicate
                          * ACK until the ACK passes the recovery point */
    SHARE_STALLED,       /* within stalls (by cause in stall_time) */
    SHARE_IDLE,          /* nothing outstanding, not stalled */
    TIME_SHARES
};

/* The figures of one direction (0: record 0's direction). */
struct direction_events {
    int64_t count[EVENT_KINDS];      /* segments with each kind */
    int64_t stalls;                  /* stalls, and their total and longest */
    double stall_total;              /* s */
    double stall_longest;            /* s */
    double stall_time[STALL_CAUSES]; /* s, stalled time by cause */
    float stall_cause_longest[STALL_CAUSES]; /* s, longest stall of each
                                      * cause */
    double share[TIME_SHARES];       /* s, sums to the connection's span */
    int sent_data;                   /* 1 when the direction sent payload */
    int64_t payload;                 /* bytes of payload it sent, resent
                                      * included */
    int little_data;                 /* 1 when that is less than one full
                                      * segment (the MSS the other end
                                      * offered, else 536): its time and
                                      * stalls tell nothing */
    float srtt;                      /* s, smoothed round trip of its data
                                      * at the end, timed one segment at a
                                      * time; 0 without a sample */
};

/* A direction's longest stall. */
struct stall_note {
    double length;                   /* s, from the segment before it */
    int cause;                       /* stall_cause; STALL_NONE: no stall */
    int32_t at;                      /* index of the segment ending it */
};

/* What a walk over one connection's segments gives beside the events. */
struct events_summary {
    direction_events dir[2];         /* as events_state.dir */
    float first_rtt;                 /* as events_state.first_rtt */
    int32_t mss_offered[2];          /* MSS option of each direction's SYN;
                                      * 0 none seen */
    stall_note longest[2];           /* each direction's longest stall */
    int32_t count_walked;            /* index of the last segment walked */
    conn_waits waits;                /* the ends' waits (analysis/waits.h) */
};

/*
 * The events of the loaded main trace. One instance, g_events, written
 * by find_events, emptied by events_clear (the loader's reset, tests).
 */
struct events_state {
    scratch_vec<seg_event_bits> seg; /* one per main record; empty: none */
    scratch_vec<seg_event_refs> refs; /* the records with references, by
                                      * rising index */
    direction_events dir[2];
    float first_rtt;                 /* s, SYN to the ACK of the SYN-ACK;
                                      * 0 when not seen */
    events_summary summary;          /* the whole walk's summary */
};

extern events_state g_events;

/* Empties g_events. */
void events_clear();

/*
 * find_events --
 *	The events of every record of g_trace.main, in index order, into
 *	g_events (emptied first), and the per-direction figures. Linear in the
 *	records; allocates the one table of seg_events. Throws
 *	std::bad_alloc when that cannot be had. Reads only what the decoder
 *	set in the records and their copies (no analysis field), so it may
 *	run while the analysis passes write theirs.
 */
void find_events();

/*
 * The walk of one connection, segment by segment: find_events runs one
 * over the main trace, the health table (report/health.h) one for each
 * connection of a capture as its packets stream by, so both find the
 * same events by the same rules. Opaque; a few hundred bytes.
 */
struct events_walk;

/* A new walk before its first segment (std::bad_alloc without memory). */
events_walk *events_walk_new();

/* Frees a walk (null allowed). */
void events_walk_free(events_walk *w);

/*
 * events_walk_step --
 *	The events of the next segment `s` of the walk's connection: `d` 0
 *	when it goes the way of the connection's first segment, else 1;
 *	s.time in seconds since that first segment; only time, the carried
 *	numbers (trace/flow.h), paylen, win and tcp_flags are read. For a SYN, `syn_shift`
 *	and `syn_mss` are what its options offer (syn_options), ignored
 *	otherwise. The segment's ref indexes count the walk's segments from 0.
 */
seg_events events_walk_step(events_walk *w, const seg_record &s, int d, int syn_shift,
                            int syn_mss);

/*
 * events_walk_finish --
 *	Settles the time after the last segment and returns the walk's
 *	figures; call once, after the last step. The result lives as long as
 *	the walk.
 */
const events_summary &events_walk_finish(events_walk *w);

/* The window-scale shift (at most 14; -1 none) and MSS (0 none) that a
 * SYN's options `f` offer. */
void syn_options(const tcp_fields &f, int *shift, int *mss);

/*
 * events_at --
 *	The events of record i into *out; false, with *out untouched, when
 *	find_events has not covered it. No side effects.
 */
bool events_at(int32_t i, seg_events *out);

/* events_at's result in a slot of the calling thread, valid until its
 * next call there; null when find_events has not covered record i. */
const seg_events *events_of(int32_t i);

/*
 * events_kinds_text --
 *	The names of the kinds in `kinds` (a seg_events.kinds value) in
 *	event_kind order, joined by `sep`; "" when none.
 */
std::string events_kinds_text(uint16_t kinds, char sep);

#endif
