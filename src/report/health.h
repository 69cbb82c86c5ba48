/*
 * health.h --
 *
 *	The health table: every TCP connection of a capture in one pass,
 *	numbered as the -L list numbers them, with what tells a troubled one
 *	from the rest: the round trip (median ack time, and the handshake's),
 *	the client's and the server's waits, retransmissions, lost segments
 *	and zero windows each way, the longest stall with its cause, the
 *	goodput each way and a one-word verdict.
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

#include "trace/connlist.h"

/* The verdicts, worst first: a row gets the first that holds. */
enum health_verdict {
    VERDICT_RESET,       /* ended by a RST */
    VERDICT_STALLED,     /* a stall of 1 s or 10% of the duration */
    VERDICT_LOSS,        /* retransmissions above 1% of a way's data segments */
    VERDICT_WINDOW,      /* zero windows, or window limited > 20% of the time */
    VERDICT_SERVER,      /* the server waited 0.2 s and 25% of the duration */
    VERDICT_CLIENT,      /* the same of the client */
    VERDICT_NETWORK,     /* a round trip of 0.2 s or more */
    VERDICT_INCOMPLETE,  /* no handshake, or no end (FIN, RST) seen */
    VERDICT_OK,
    VERDICTS
};

/* The verdicts' names, indexed by health_verdict: "reset", ... "ok". */
extern const char *const verdict_names[VERDICTS];

/* The health of one connection; index 0 of the pairs: from end 0. */
struct conn_health {
    double duration;            /* s, last minus first segment */
    double rtt_median;          /* s, median ack time; -1 without a sample */
    double initial_rtt;         /* s, SYN to the first ACK after it; -1 none */
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
    int stall_cause;            /* stall_cause; STALL_NONE: none */
    int handshake;              /* 1: a SYN and its SYN-ACK seen */
    int ended;                  /* 1: a FIN or RST seen */
    int reset;                  /* 1: a RST seen */
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

/* Bytes per second of unique payload from end `way`; -1 for a duration 0. */
double health_goodput(const health_row &r, int way);

/*
 * health_text --
 *	The -L lines: connection_table's header and rows, each followed by
 *	the round trip, retransmissions and zero windows each way, the
 *	longest stall and its cause, the goodput each way and the verdict
 *	("-" for a figure missing). No newline at the ends.
 */
std::vector<std::string> health_text(const std::vector<health_row> &rows);

/* The CSV columns, in order, joined by commas. */
extern const char health_csv_header[];

/*
 * health_csv_row --
 *	Row `r` numbered `number` as CSV fields in health_csv_header's order:
 *	addresses as -L writes them, times with 6 decimals, an empty field
 *	for a round trip without a sample and for no stall cause, 0 for no
 *	stall. No newline.
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
 *	text's columns (the first time with 3 decimals), "-" for a figure
 *	missing.
 */
std::vector<std::string> health_cells(const health_row &r, size_t number);
extern const char *const health_cell_names[];
extern const int health_cell_count;

#endif
