/*
 * stats.h --
 *
 *	Statistics of the loaded connection, as a plain aligned text for a
 *	person: per direction the segments, payload bytes, segments of each
 *	colour class, the share of retransmissions, the acknowledgement time
 *	(from a segment to its acknowledgement: for the capture host's own
 *	segments the round trip, for the peer's the capture host's ACK
 *	delay; in the path each way's half of the round trip) and the
 *	one-way delay (measured from the copies after a two-file load,
 *	estimated otherwise, and the text says which); after a two-file load
 *	the clock offset and how many segments found their copy; the
 *	duration and the goodput; the analysis events of each kind, the
 *	stalls and where the time of each data sender went (analysis/events.h),
 *	and the longest stalls.
 */

#ifndef WIREPAINT_REPORT_STATS_H
#define WIREPAINT_REPORT_STATS_H

#include <cstdint>
#include <string>
#include <vector>

/* Summary of a set of samples; all 0 when count is 0. */
struct sample_summary {
    int64_t count;
    double min, median, mean, max;
};

/*
 * summarise --
 *	Count, minimum, median (the mean of the two middle samples for an
 *	even count), mean and maximum of `samples` (sorted in place).
 */
sample_summary summarise(std::vector<double> *samples);

/* The figures of one direction; dir 1 left to right, 2 right to left. */
struct direction_stats {
    int64_t segments;           /* lines of this direction */
    int64_t payload_bytes;      /* sum of positive payload lengths */
    int64_t per_class[7];       /* lines by line_record.cls */
    int64_t retransmissions;    /* records the marking calls retransmitted */
    int64_t retransmitted_bytes;/* their payload bytes */
    sample_summary ack_time;    /* s, over records with an ack time */
    sample_summary delay;       /* s, over lines with a delay: measured or
                                 * estimated, see connection_stats */
};

struct connection_stats {
    direction_stats dir[2];     /* [0] L>R, [1] R>L */
    int two_files;              /* 1 after a two-file load */
    int64_t copies_found;       /* two files: lines whose copy was found */
    float clock_offset;         /* s, two files: the peer clock's offset */
    double duration;            /* s, last minus first capture time */
};

/*
 * collect_stats --
 *	The figures of the loaded main trace and line list (g_trace; with two
 *	files the loader's copies). The delay samples are the lines with a
 *	copy after a two-file load, else every line with a positive delay.
 */
connection_stats collect_stats();

/*
 * statistics_text --
 *	collect_stats as the text a person reads, lines ended by "\n". With
 *	nothing loaded, one line that says so.
 */
std::string statistics_text();

#endif
