/*
 * left_host.h --
 *
 *	Which end of the connection is drawn on the left axis: the host where
 *	the capture was made, so that every capture time lies on that axis.
 *
 *	Three sources decide, the first that can:
 *	  1. the host the user named (-H on the command line, Capture host in
 *	     the window), held in g_left_choice;
 *	  2. the handshake: at the host that sent the SYN, the time from the
 *	     SYN to the SYN-ACK is a round trip and the time from the SYN-ACK
 *	     to its own next segment is that host's turnaround; at the other
 *	     host the reverse. The longer of the two says where the capture
 *	     was made, on any path, however short;
 *	  3. the reference record's delay estimate against its acknowledgement
 *	     time (analyse.cpp), right on paths longer than the hosts' own
 *	     turnaround, and the only rule left without a handshake.
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

#endif
