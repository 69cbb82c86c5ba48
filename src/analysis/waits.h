/*
 * waits.h --
 *
 *	How long each end of a connection took to answer the other: the
 *	client (the end that sent the SYN, else the end that sent first) and
 *	the server. It tells a slow client and a slow server from a slow path.
 *
 *	The handshake gives the round trip from the capture point to each
 *	end, wherever the capture was taken: to the server from the SYN to the
 *	SYN-ACK, to the client from the SYN-ACK to the client's ACK of it. An
 *	exchange is a run of data from one end followed by the first data of
 *	the other; the answering end waited from the run's last data segment
 *	plus the round trip to it until its first data segment, or from its
 *	own bare ACK of the run when it sent one after that point, never less
 *	than 0. The client's wait also holds the time from the SYN-ACK plus
 *	its round trip to its first data, when it speaks first.
 *
 *	The events walk (analysis/events.h) steps this beside its rules, so
 *	-S and the health table read the same figures.
 */

#ifndef WIREPAINT_ANALYSIS_WAITS_H
#define WIREPAINT_ANALYSIS_WAITS_H

#include <cstdint>

struct seg_record;

/* The waits of one connection and the state of their walk. Directions
 * as the events walk numbers them (0: the first segment's way). */
struct conn_waits {
    int client;          /* direction the client sends; 0 until a SYN says */
    float syn_time;      /* s, last SYN without ACK; -1 none */
    float synack_time;   /* s, first SYN-ACK after it; -1 none */
    float rtt_to[2];     /* s, capture point to the end sending direction d
                          * and back; 0 without a handshake */
    int has_rtt_to[2];   /* 1 once rtt_to[d] is known */
    double wait[2];      /* s, summed wait of the end sending direction d */
    int64_t exchanges;   /* answers counted */
    int run_dir;         /* direction of the current run of data; -1 none */
    float run_last;      /* s, its last data segment */
    uint32_t run_end;    /* sequence number just past its data */
    float bare_ack;      /* s, the other end's first bare ACK of the run
                          * after the run's last data and its round trip;
                          * -1 none */
};

/* Puts `w` before a connection's first segment. */
void waits_start(conn_waits *w);

/*
 * waits_step --
 *	Takes the connection's next segment `s` (direction `d`, time in s
 *	since the first segment); `probe` when the events pass called it a
 *	keep-alive or zero-window probe, which is not data.
 */
void waits_step(conn_waits *w, const seg_record &s, int d, bool probe);

/* Seconds the client and the server waited. */
double client_wait(const conn_waits &w);
double server_wait(const conn_waits &w);

#endif
