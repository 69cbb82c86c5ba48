/*
 * health.h --
 *
 *	The health table: every TCP connection of a capture in one pass,
 *	numbered as the -L list numbers them, with what tells a troubled one
 *	from the rest: the round trip (median ack time, and the handshake's),
 *	the client's and the server's waits, retransmissions, lost segments
 *	and zero windows each way, the longest stall with its cause, the
 *	goodput each way, a one-word verdict and the reason for it.
 *
 *	The counts come from the events pass itself (analysis/events.h): one
 *	walk a connection, stepped as the file's packets stream by, so each
 *	row says what -c N -E and -c N -S say of that connection. Only each
 *	connection's walk and counters are kept, not its segments.
 */

#ifndef WIREPAINT_REPORT_HEALTH_H
#define WIREPAINT_REPORT_HEALTH_H

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "analysis/events.h"
#include "trace/connlist.h"

/* The verdicts, worst first: a row gets the first that holds. */
enum health_verdict {
    VERDICT_UNANSWERED,  /* SYNs sent, nothing came back from the peer */
    VERDICT_REFUSED,     /* the SYN answered by a RST, no SYN-ACK */
    VERDICT_RESET,       /* ended by a RST once established */
    VERDICT_STALLED,     /* an application stall of 1 s or 10% of the
                          * duration */
    VERDICT_LOSS,        /* retransmissions (or segments lost before the
                          * capture point, if more) above 1% of a way's
                          * data segments, or a timeout stall as long as
                          * a stalled one's; unless the window holds too
                          * and held the senders longer than the loss */
    VERDICT_WINDOW,      /* zero windows, window limited > 20% of the
                          * time, or a zero-window stall as long */
    VERDICT_SERVER,      /* the server waited 0.2 s and 25% of the duration */
    VERDICT_CLIENT,      /* the same of the client */
    VERDICT_NETWORK,     /* a round trip of 0.2 s or more */
    VERDICT_INCOMPLETE,  /* no handshake, or no end (FIN, RST) seen */
    VERDICT_OK,
    VERDICTS
};

/* The verdicts' names, indexed by health_verdict: "unanswered", ... "ok". */
extern const char *const verdict_names[VERDICTS];

/* Where the capture of a connection was taken, as its round trip needs. */
enum capture_place {
    CAPTURE_AT_END0,     /* on end 0 (the one the "from" column names) */
    CAPTURE_AT_END1,     /* on end 1 */
    CAPTURE_IN_PATH      /* between them, or nothing told */
};

/* The health of one connection; index 0 of the pairs: from end 0. The
 * figures only the verdict and its reason read are floats: 50,000 rows
 * of them are kept at once. */
struct conn_health {
    double duration;            /* s, last minus first segment */
    double rtt_median;          /* s, the round trip: the median time from
                                 * a segment sent toward an end to that
                                 * end's ACK of it, at the capture point;
                                 * at an end only the capture host's
                                 * segments count (never its own ACK
                                 * delay), in the path the two ways'
                                 * medians are added; -1 without a sample */
    double initial_rtt;         /* s, SYN to the first ACK after it, with a
                                 * SYN-ACK seen; -1 none */
    double client_wait;         /* s, summed (analysis/waits.h) */
    double server_wait;         /* s */
    int64_t exchanges;          /* answers the waits were taken over */
    int64_t data_segments[2];   /* segments with payload */
    int64_t retransmissions[2]; /* segments with a retransmission kind */
    int64_t lost[2];            /* lost_segment */
    int64_t zero_windows[2];    /* zero_window */
    int64_t unique_bytes[2];    /* payload not sent before */
    double window_limited[2];   /* s, receiver window limited */
    double longest_stall;       /* s, as -S's longest; 0 none */
    float recovery[2];          /* s, in loss recovery or stalled on a
                                 * timeout */
    float window_held[2];       /* s, window limited or stalled on a zero
                                 * window */
    float stall_longest_by[STALL_CAUSES]; /* s, longest stall of each
                                 * stall_cause over the ways that sent data
                                 * worth timing; 0 none */
    float syn_span;             /* s, first to last SYN without ACK */
    float reset_at;             /* s, the first RST's time since the first
                                 * segment */
    int stall_cause;            /* stall_cause of longest_stall; STALL_NONE:
                                 * none */
    int app_stall_way;          /* way of the longest application stall
                                 * among those; -1 none */
    int capture;                /* capture_place the round trip was taken as */
    int client_way;             /* way the client sends: 0 or 1 */
    int syns;                   /* SYNs without ACK seen */
    int answered;               /* 1: the end the SYNs went to sent anything,
                                 * or their end acknowledged anything */
    int refused;                /* 1: that end's first segment was a RST */
    int handshake;              /* 1: a SYN and its SYN-ACK seen */
    int ended;                  /* 1: a FIN or RST seen */
    int reset;                  /* 1: a RST seen */
    int reset_way;              /* way of the first RST; -1 none */
    int verdict;                /* health_verdict */
};

/* One row of the table. */
struct health_row {
    conn_row conn;
    conn_health health;
};

/*
 * health_table --
 *	Reads `file` once (with the -f filter) and returns every connection in
 *	list_connections' order with its health. Failures as list_connections.
 */
std::vector<health_row> health_table(const char *file);

/* The verdict that the figures of `h` give (its verdict field unread). */
int judge_health(const conn_health &h);

/*
 * health_reason --
 *	Why row `r` got its verdict, in a few words ("4 SYNs over 7.1 s, no
 *	answer", "85 retransmissions (4.2%), a 0.21 s timeout", "client
 *	waited 1.50 s before its next request"); "" for ok. No side effects.
 */
std::string health_reason(const health_row &r);

/* Bytes per second of unique payload from end `way`; -1 for a duration 0. */
double health_goodput(const health_row &r, int way);

/*
 * health_text --
 *	The -L lines: connection_table's header and rows, each followed by
 *	the round trip, retransmissions and zero windows each way, the
 *	longest stall and its cause, the goodput each way, the verdict and
 *	its reason ("-" for a figure missing or an ok's reason; the reason,
 *	last, holds blanks). With `other`, a column "other" before the
 *	reason: each connection's other[i] (its counterpart in a second file,
 *	load/choose.h), "-" for 0. No newline at the ends.
 */
std::vector<std::string> health_text(const std::vector<health_row> &rows,
                                     const std::vector<int> *other = nullptr);

/* The CSV columns, in order, joined by commas. */
extern const char health_csv_header[];

/*
 * health_csv_row --
 *	Row `r` numbered `number` as CSV fields in health_csv_header's order:
 *	addresses as -L writes them, times with 6 decimals, an empty field
 *	for a round trip without a sample and for no stall cause, 0 for no
 *	stall; the reason last (empty for ok), in double quotes when it
 *	holds a comma or a quote (a quote doubled). No newline.
 */
std::string health_csv_row(const health_row &r, size_t number);

/*
 * write_health_csv --
 *	health_csv_header and one health_csv_row a connection, numbered from
 *	1, each line ended by a newline, to `out` (flushed). 1 when every
 *	write succeeded.
 */
int write_health_csv(FILE *out, const std::vector<health_row> &rows);

/*
 * print_health_tables --
 *	The -L output of each file: with `csv` null, a line "# FILE: N TCP
 *	connection(s)" and its health_text on standard output; else its CSV
 *	(write_health_csv) to `csv`. Failures to read a file are the
 *	reader's. 1 when every write succeeded.
 */
int print_health_tables(int nfiles, char *const names[], FILE *csv);

/*
 * health_cells --
 *	The fields the Connections dialog shows of row `r` numbered `number`,
 *	in health_cell_names' order: the number, the verdict, then the -L
 *	text's columns (the first time with 3 decimals) and the reason last,
 *	"-" for a figure missing or an ok's reason.
 */
std::vector<std::string> health_cells(const health_row &r, size_t number);
extern const char *const health_cell_names[];
extern const int health_cell_count;

#endif
