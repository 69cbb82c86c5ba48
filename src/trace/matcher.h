/*
 * matcher.h --
 *
 *	Cross-trace matching: for a record of the main trace, the record of
 *	the peer trace that is the same segment seen at the other capture
 *	point. Identity fields only, never payload bytes.
 *
 *	A segment with a nonzero IPv4 identification is matched by that
 *	identification and its direction (its source address); any other by
 *	its sequence number, acknowledgement number (both as carried, so that
 *	two captures that began at different segments still agree), window
 *	and payload length (so that a pure acknowledgement is never taken for
 *	the data segment that follows it with the same numbers). Where several peer records qualify, the mode picks one: the
 *	first in peer order, or the one nearest in time once the clock offset
 *	is applied (ties to the lowest peer index).
 *
 *	match_segment answers from indexes of the peer trace that it builds
 *	on first use for a given pair of traces (the few records without an
 *	identification of an IPv4 trace by scanning, before the index they
 *	would need pays), or that matcher_prepare built; match_segment_literal scans
 *	the peer trace from its start and gives the same answers, for checks.
 */

#ifndef WIREPAINT_TRACE_MATCHER_H
#define WIREPAINT_TRACE_MATCHER_H

#include <cstdint>

struct seg_record;

enum match_mode {
    MATCH_FIRST = 0,    /* the first qualifying peer record */
    MATCH_NEAREST = 1   /* the qualifying record nearest in corrected time */
};

/*
 * match_segment --
 *	The peer index (0 to peer count - 1) of main record i's copy, or -1.
 *	With MATCH_NEAREST, a candidate's distance is
 *	|candidate time + offset - (main record's time + expect)|: `expect` is
 *	how far the copy is expected to lie from the record on the corrected
 *	clock (the one-way delay, negated for a segment the main capture saw
 *	arriving), so that of a run of identical duplicate acknowledgements
 *	each finds its own copy and not the one sent a delay earlier or later.
 *	With expect 0 the distance is the plain one-way delay. With `rate`
 *	nonzero the peer clock is a drifting one: a candidate's corrected
 *	time is its time + offset + rate * (its time - start). offset,
 *	expect, rate and start are ignored with MATCH_FIRST. Reads g_trace.main and
 *	g_trace.peer; keeps its index in g_match, rebuilt whenever the peer
 *	trace changes.
 */
int32_t match_segment(int32_t i, match_mode mode, float offset, float expect = 0.0f,
                      float rate = 0.0f, float start = 0.0f);

/*
 * matcher_prefetch --
 *	Has the processor fetch, ahead of match_segment(i, MATCH_NEAREST,
 *	offset, expect), the entries of the peer index where that search
 *	starts: a caller matching records in turn asks it some records ahead,
 *	so that the search does not wait for memory. Only a hint: no state
 *	changes, nothing happens when the indexes are not built for the
 *	current traces, and no answer depends on it. Safe beside
 *	match_segment calls on other threads once the indexes are built.
 */
void matcher_prefetch(int32_t i, float offset, float expect);

/*
 * match_distance --
 *	How far a peer record at time `at` lies from where the copy of main
 *	record r is expected, as MATCH_NEAREST measures it (s):
 *	|at + offset + rate * (at - start) - (r.time + expect)|.
 */
float match_distance(const seg_record &r, float at, float offset, float expect, float rate,
                     float start);

/* The same answer as match_segment, by scanning the peer trace from 0. */
int32_t match_segment_literal(int32_t i, match_mode mode, float offset, float expect = 0.0f,
                              float rate = 0.0f, float start = 0.0f);

/*
 * matcher_prepare --
 *	Builds now the indexes the matching of the main trace will need: the
 *	one by identification, and the one by numbers when more main records
 *	than a few scans would serve carry no identification. Afterwards
 *	match_segment answers as it would have anyway. Reads only what the
 *	decoder set in the main and peer records, so the loader runs it
 *	beside the analysis passes. Throws std::bad_alloc when memory runs
 *	out.
 */
void matcher_prepare();

/*
 * matcher_prepare_peer --
 *	Builds now the index by identification, which depends on the peer
 *	trace alone. Reads g_trace.peer, its records and their addresses and
 *	nothing else of the trace state, so it may run while the other file
 *	is read. Throws std::bad_alloc when memory runs out.
 */
void matcher_prepare_peer();

/* Drops the peer index (the loader calls it after every load). */
void matcher_reset();

/*
 * matcher_same_numbers --
 *	Says whether the two captures carry the same sequence numbers (no
 *	middlebox rewrote them; the loader asks its anchor segment). While
 *	set, a copy found by its identification must also carry the main
 *	record's sequence number: a host's identifications repeat every
 *	65,536 segments, and a segment lost between the capture points would
 *	otherwise take the copy of a later segment that reuses its
 *	identification. Both match_segment and match_segment_literal obey it.
 *	Cleared by matcher_reset.
 */
void matcher_same_numbers(bool same);

/*
 * matcher_ignore_ids --
 *	With `ignore` set, every record is matched by its numbers, window and
 *	length as a record without an identification is: for captures whose
 *	identifications do not agree (scrubbed, zeroed or randomised by a
 *	middlebox between them; trace/peer_map.h). Both match_segment and
 *	match_segment_literal obey it; set it before the indexes are built.
 *	Cleared by peer_map_reset, not by matcher_reset.
 */
void matcher_ignore_ids(bool ignore);

#endif
