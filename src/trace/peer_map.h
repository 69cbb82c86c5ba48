/*
 * peer_map.h --
 *
 *	What a middlebox between the two capture points did to the
 *	connection, learned from the two traces, and the peer trace put in
 *	the main trace's terms accordingly, so that the matcher finds copies
 *	across it.
 *
 *	A copy is a record of the same direction of the same connection,
 *	where a direction is a role (client to server, or back), not a pair
 *	of raw addresses: a NAT rewrites addresses and ports, a firewall that
 *	randomises initial sequence numbers adds a constant to one
 *	direction's sequence numbers (and to the other direction's
 *	acknowledgements), and a scrubber zeroes or replaces the IPv4
 *	identification. None of them changes payload lengths, flags,
 *	windows or TCP timestamps.
 *
 *	peer_map_learn pairs the two directions of the traces and learns
 *	each direction's sequence offset (modulo 2^32) from the SYNs when
 *	both traces hold them, else from the segments whose TCP timestamps
 *	and lengths (or identifications and lengths) agree, allowing one
 *	change of it mid-connection (on traces of up to a million records),
 *	and tells whether
 *	the identifications agree. Only where the captures differ does
 *	peer_map_apply change anything: it gives every peer record the main
 *	trace's addresses and ports of its role and the main trace's
 *	numbers, and, where the identifications disagree, has the matcher
 *	match every record by its numbers. Captures that agree keep their
 *	records, and so the matcher's answers, exactly.
 */

#ifndef WIREPAINT_TRACE_PEER_MAP_H
#define WIREPAINT_TRACE_PEER_MAP_H

#include <cstdint>
#include <string>
#include <vector>

#include "trace/direction.h"

/* Evidence bits of peer_map_state.evidence. */
enum {
    PEER_BY_SYN = 0x01,        /* both traces hold the client's SYN */
    PEER_BY_SYNACK = 0x02,     /* ... and the server's SYN+ACK */
    PEER_BY_TIMESTAMPS = 0x04, /* segments with equal TCP timestamps and lengths */
    PEER_BY_IDS = 0x08,        /* segments with equal identifications and lengths */
    PEER_BY_ADDRESSES = 0x10   /* equal addresses and ports (no other evidence) */
};

/*
 * What peer_map_learn found, one instance, g_peer_map. Role 0 is the
 * client-to-server direction (the SYN's, else that of main record 0),
 * role 1 the way back. Set by peer_map_learn, cleared by peer_map_reset.
 */
struct peer_map_state {
    bool learned;            /* peer_map_learn found evidence */
    bool applied;            /* peer_map_apply rewrote the peer records */
    int evidence;            /* PEER_BY_* bits */
    int pairs;               /* segments seen in both traces (sampled) */
    int invariant_pairs;     /* of them, paired by timestamps or ids */
    endpoint main_end[2];    /* role r's sender as the main trace sees it */
    endpoint peer_end[2];    /* ... and as the peer trace sees it */
    bool translated[2];      /* main_end[r] and peer_end[r] differ */
    uint32_t shift[2];       /* role r's sequence numbers: peer's minus
                              * main's, mod 2^32 (0: the same) */
    bool changes[2];         /* role r's shift changed once mid-connection */
    uint32_t late_shift[2];  /* ... to this, */
    uint32_t change_at[2];   /* ... from this sequence number of the peer
                              * trace on (its acknowledgements too) */
    bool ids_disagree;       /* the identifications of copies differ
                              * (scrubbed, zero or randomised in one) */
    int id_equal, id_differ; /* sampled copies with equal / other ids */
    bool same_client_isn;    /* both SYNs carry the same sequence number */
    bool no_copy;            /* the ends differ and no segment of the one
                              * trace is seen in the other: two different
                              * connections (a proxy that terminates TCP,
                              * or the wrong connection of a file) */
};

extern peer_map_state g_peer_map;

/* Forgets what was learned (the loader's reset). */
void peer_map_reset();

/*
 * peer_map_learn --
 *	Learns g_peer_map from the first records of g_trace.main and
 *	g_trace.peer (a few thousand each), reading their packet copies for
 *	the TCP timestamps. No other state changes. Throws std::bad_alloc.
 */
void peer_map_learn();

/* Why the two traces hold no copies of each other's segments, a line
 * ending in a newline, when g_peer_map.no_copy; "" otherwise. */
std::string peer_map_no_copy_line();

/* Whether the peer trace differs from the main trace's terms: addresses,
 * ports, numbers or identifications (after peer_map_learn). */
bool peer_map_needed();

/*
 * peer_map_apply --
 *	When peer_map_needed: gives every peer record the flow (addresses,
 *	ports, number bases) of its role in the main trace and its numbers
 *	shifted into the main trace's, and has the matcher ignore the
 *	identifications when they disagree (matcher_ignore_ids). The peer
 *	trace's packet copies stay as captured. Call before the matcher's
 *	indexes are built; otherwise does nothing.
 */
void peer_map_apply();

/*
 * peer_map_lines --
 *	The report's lines of what the middlebox did, each ending in a
 *	newline: "Translated:      A is B in the other capture; C is D" when
 *	an end differs, "Same connection: " and the evidence that the two
 *	captures hold one connection, "Sequence numbers: the other capture's L>R are N
 *	higher" per shifted direction (`left_role` is the role whose sender
 *	is the left host), and a line when identifications were not usable.
 *	Empty when the captures agree.
 */
std::vector<std::string> peer_map_lines(int left_role);

/* "address:port" ("[address]:port" for IPv6) of e. */
std::string peer_end_text(const endpoint &e, bool v6);

#endif
