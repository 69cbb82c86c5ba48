/*
 * left_host.h --
 *
 *	Which end of the connection is drawn on the left axis: the host where
 *	the capture was made, so that every capture time lies on that axis.
 *
 *	These sources decide, the first that can:
 *	  1. the host the user named (-H on the command line, Capture host in
 *	     the window), held in g_left_choice;
 *	  2. with two captures, the gaps between the copies: for a record i
 *	     sent by X and a later one j sent by Y, t(j) - t(i) is longer in
 *	     X's capture than in Y's by the path's round trip, whatever the
 *	     clocks (gap_left_host; the loader runs it once the copies can be
 *	     found, and has the lines built again when it disagrees);
 *	  3. the IP TTL (hop limit) of each direction: a packet captured on
 *	     the host that sent it carries an initial value (32, 64, 128 or
 *	     255), one that crossed a router less. One direction initial: its
 *	     source is the capture host. Neither: the capture was taken in the
 *	     path, and the end fewer hops away is drawn on the left;
 *	  4. the handshake: at the host that sent the SYN, the time from the
 *	     SYN to the SYN-ACK is a round trip and the time from the SYN-ACK
 *	     to its own next segment is that host's turnaround; at the other
 *	     host the reverse. The longer of the two says where the capture
 *	     was made, as long as the path is longer than the turnaround;
 *	  5. the reference record's delay estimate against its acknowledgement
 *	     time (analyse.cpp), the only rule left without a handshake.
 *	What decided is kept in g_capture_host, for the evidence line of -S,
 *	-V and the Statistics window.
 */

#ifndef WIREPAINT_ANALYSIS_LEFT_HOST_H
#define WIREPAINT_ANALYSIS_LEFT_HOST_H

#include <cstdint>
#include <string>

#include "trace/direction.h"

/* What became of a named host in the last analysis. */
enum left_named_outcome {
    LEFT_NAMED_UNUSED = 0,  /* no host named, or no analysis since */
    LEFT_NAMED_TAKEN,       /* it is one end: drawn on the left */
    LEFT_NAMED_NO_END,      /* it is neither end of the connection */
    LEFT_NAMED_BOTH_ENDS    /* an address alone, shared by both ends */
};

/*
 * The capture host the user named. One instance, g_left_choice; set by
 * the command line (-H) and the window's Capture host choice, read by
 * analyse_trace, which writes `outcome`. Lives for the whole run.
 */
struct left_host_choice {
    int named = 0;        /* 1 when a host is named; 0: the analysis decides */
    int v6 = 0;           /* 1 for an IPv6 address */
    uint8_t a6[16] = {};   /* IPv6 address as carried (network order); zero for IPv4 */
    uint64_t a4 = 0;      /* IPv4 address in host order; 0 for IPv6 */
    int has_port = 0;     /* 1 when the port was named too */
    uint16_t port = 0;    /* TCP port, host order; read only with has_port */
    std::string text;   /* the host as the user wrote it, for messages */
    int in_window = 0;    /* 1 when named in the window, 0 with -H; set by
                           * the window's Capture host choice */
    left_named_outcome outcome = LEFT_NAMED_UNUSED;/* set by the last analysis */
};

extern left_host_choice g_left_choice;

/*
 * left_host_name --
 *	Parses `text` as the capture host: an IPv4 or IPv6 address, or an
 *	endpoint as -L writes it ("192.0.2.1:80", "[2001:db8::1]:80"), and
 *	on success makes it g_left_choice (named, outcome unused) and returns
 *	1. Returns 0 and leaves g_left_choice alone when `text` is neither.
 */
int left_host_name(const char *text);

/* left_host_forget --
 *	Names no host: the analysis decides again. */
void left_host_forget();

/*
 * named_left_host --
 *	When a host is named and it is one end of the main trace's connection
 *	(record 0's source or destination; with the port when one was named,
 *	and then also told apart on a connection whose ends share an
 *	address), stores that end in *left and returns 1. Otherwise returns 0.
 *	Either way sets g_left_choice.outcome. Reads g_trace.main.
 */
int named_left_host(endpoint *left);

/*
 * handshake_left_host --
 *	The capture host by the handshake of g_trace.main: a is the first
 *	record with SYN and ACK; s the last record before a with SYN and
 *	without ACK addressed to a's source; c the first record after a sent
 *	by s's source. With g1 = a.time - s.time and g2 = c.time - a.time
 *	(32-bit float): g1 > g2 gives s's source, g1 < g2 a's source, each
 *	stored in *left with result 1. Returns 0 (nothing stored) when a
 *	record is missing or g1 equals g2. Reads g_trace.main only.
 */
int handshake_left_host(endpoint *left);

/* The rule that chose the left host in the last analysis. */
enum capture_host_rule {
    HOST_BY_NONE = 0,   /* no analysis since the last reset */
    HOST_BY_NAME,       /* named with -H or in the window */
    HOST_BY_GAPS,       /* two captures: the gaps between copies */
    HOST_BY_TTL,        /* its packets leave with an initial TTL */
    HOST_BY_PATH_TTL,   /* captured in the path, this end the nearer */
    HOST_BY_HANDSHAKE,  /* the handshake's gaps */
    HOST_BY_REFERENCE   /* the reference record's delay estimate */
};

/*
 * What chose the capture host, one instance, g_capture_host. The loader
 * sets the gap fields after analyse_trace, before it has the lines built
 * again with that host (analyse_left_host_again); analyse_trace clears
 * by_gaps, and choose_left_host writes the rule and TTLs. All cleared by
 * capture_host_reset (the loader, before every load).
 */
struct capture_host_evidence {
    capture_host_rule rule;  /* what decided; set by choose_left_host */
    int ttl_left;            /* most common TTL / hop limit of the left
                              * host's records; -1: none; set likewise */
    int ttl_right;           /* the same of the right host's records */
    int by_gaps;             /* 1: the gaps named gap_host; set by the
                              * loader, cleared by analyse_trace */
    endpoint gap_host;       /* the end the gaps put the capture at */
    int pairs;               /* pairs of records whose gaps were compared */
    int votes;               /* of them, those that put it at gap_host */
};

extern capture_host_evidence g_capture_host;

/* capture_host_reset --
 *	Puts g_capture_host back to its start (rule none, no gap verdict). */
void capture_host_reset();

/* initial_ttl --
 *	1 when `v` is a TTL (hop limit) a sending host starts at: 32, 64,
 *	128 or 255; so a packet carrying it was captured on its sender. */
bool initial_ttl(int v);

/*
 * ttl_left_host --
 *	The capture host by the TTL (hop limit) counts of g_trace.main
 *	(trace_array.ttl_count): stores it in *left and returns
 *	HOST_BY_TTL when exactly one direction's most common value is an
 *	initial one, HOST_BY_PATH_TTL when neither is and one direction is
 *	fewer hops from its initial value than the other, HOST_BY_NONE
 *	(nothing stored) otherwise. Reads g_trace.main only.
 */
capture_host_rule ttl_left_host(endpoint *left);

/* capture_host_note_ttls --
 *	Sets g_capture_host.ttl_left and ttl_right, the most common TTL of
 *	the main records sent by `left` and by the other end. */
void capture_host_note_ttls(const endpoint &left);

/*
 * gap_left_host --
 *	The capture host of g_trace.main by the gaps between the copies of
 *	its records in g_trace.peer (match_segment, first-candidate mode):
 *	over the first MAX_GAP_PAIRS pairs of main records in opposite
 *	directions, consecutive among those with a copy, the capture is at
 *	the first's source when the gap between them is longer in the main
 *	trace than between their copies, at the second's when shorter.
 *	Stores in *left the end most pairs point to, with *pairs the pairs
 *	compared and *votes those that point to it, and returns 1; returns 0
 *	(nothing stored) on a tie or without pairs. Reads the traces; builds
 *	the matcher's indexes when they are not built.
 */
enum { MAX_GAP_PAIRS = 16 };
int gap_left_host(endpoint *left, int *pairs, int *votes);

#endif
