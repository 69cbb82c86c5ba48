/*
 * connlist.h --
 *
 *	The TCP connections of a capture file, and the choice of the one to
 *	draw. A capture often holds many connections; the reader draws one.
 *	list_connections reads a file once and lists every connection in the
 *	order of its first packet, with packets and payload bytes each way and
 *	its first and last time stamps (the -L table, and the window's
 *	Connections dialog). A choice set for a file name makes the decoder
 *	take that connection's first segment as the key, where it would
 *	otherwise take the file's first TCP segment.
 */

#ifndef WIREPAINT_TRACE_CONNLIST_H
#define WIREPAINT_TRACE_CONNLIST_H

#include <cstdint>
#include <string>
#include <vector>

struct pcap_pkthdr;

/*
 * The two ends of a connection: end 0 sent its first packet. Addresses
 * in network order, IPv4 in the first 4 bytes with the rest zero.
 */
struct conn_ends {
    int v6;               /* 1 for IPv6 */
    uint8_t addr[2][16];  /* end 0, end 1 */
    uint16_t port[2];     /* host order */
};

/* One connection of a file. Index 0 of the pairs is end 0 to end 1. */
struct conn_row {
    conn_ends ends;
    uint64_t packets[2];  /* TCP segments each way */
    uint64_t bytes[2];    /* payload bytes each way, from the IP lengths;
                           * a negative length counts as 0 */
    int64_t first_sec, first_usec;  /* capture time of its first segment */
    int64_t last_sec, last_usec;    /* ... and of its last */
};

/* One segment as the listing reads it, handed to a visitor. */
struct conn_segment {
    size_t row;                   /* index of its connection in the list */
    int way;                      /* 0: sent by end 0; 1: by end 1 */
    const uint8_t *tcp;           /* its TCP header */
    uint32_t tcp_avail;           /* captured bytes from the header on */
    int32_t paylen;               /* payload from the IP length; may be < 0 */
    const struct pcap_pkthdr *hdr;/* the frame's time stamp and lengths */
    int ttl;                      /* its IPv4 TTL or IPv6 hop limit */
};

/* A pass over every segment of a listing, in file order. */
typedef void (*conn_visitor)(void *user, const conn_segment &seg);

/*
 * list_connections --
 *	Reads `file` (with the -f filter) and returns its connections in the
 *	order of their first segments. A segment counts when the decoder
 *	would find its TCP header; each one is handed to `visit` (with
 *	`user`), when given, after its row is counted. Failures to open or
 *	read go through load_fail as for the reader; a file cut short warns
 *	and lists what was read.
 */
std::vector<conn_row> list_connections(const char *file, conn_visitor visit = nullptr,
                                       void *user = nullptr);

/*
 * connection_table --
 *	The lines of the -L table for `rows`: one header line beginning with
 *	"#", then one line a connection, numbered from 1, fields separated by
 *	blanks and none holding a blank: number, end 0 and end 1 as
 *	address:port ([address]:port for IPv6), packets and bytes from end 0,
 *	packets and bytes from end 1, first and last time stamp (seconds since
 *	1970, 6 decimals), duration in seconds. No newline at the ends.
 */
std::vector<std::string> connection_table(const std::vector<conn_row> &rows);

/* The text "address:port" of end `i`, as in the table. */
std::string conn_end_text(const conn_ends &e, int i);

/*
 * same_pair, same_ports --
 *	Whether two connections have the same two address-and-port ends, or
 *	the same two ports, in either order.
 */
bool same_pair(const conn_ends &a, const conn_ends &b);
bool same_ports(const conn_ends &a, const conn_ends &b);

/* The connection chosen for one file. */
struct conn_choice {
    std::string file;     /* file name as given to the reader */
    conn_ends ends;
};

/* The choice of connections. One instance, g_connsel. */
struct connsel_state {
    std::vector<conn_choice> choices; /* set by the loader's choice (-c,
                                       * the Connections dialog) */
    int current;          /* index in choices for the file being read,
                           * -1 none; set by conn_select_begin */
};

extern connsel_state g_connsel;

/* Forgets every choice: each file's first connection is drawn again. */
void conn_select_clear();

/* Sets the choice for `file`, replacing an earlier one. */
void conn_select_set(const std::string &file, const conn_ends &ends);

/* The reader starts on `file`: its choice, if any, becomes current. */
void conn_select_begin(const char *file);

/* What the decoder does with a segment before the key is fixed. */
enum conn_verdict {
    CONN_TAKE,            /* no choice, or the chosen connection */
    CONN_OTHER_HOSTS,     /* another pair of addresses */
    CONN_OTHER_PORTS      /* the chosen addresses, other ports */
};

/*
 * conn_select_verdict --
 *	For a TCP segment whose IP header is at `ip` (v6 as found, ports as
 *	read): whether the current choice takes it. The addresses at `ip`
 *	must lie inside the captured bytes (the decoder checked that).
 */
conn_verdict conn_select_verdict(const uint8_t *ip, bool v6, uint16_t sport, uint16_t dport);

#endif
