/*
 * line_index.cpp --
 *
 *	The window scan of the publications, literal and through the index of
 *	prefix and block maxima. Both forms apply the same two tests to the
 *	same lines in the same order; the index only proves, for the lines it
 *	passes over, what the tests would have said.
 */

#include "ui/line_index.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "analysis/line.h"

line_index_state g_line_index;

static const float INF = std::numeric_limits<float>::infinity();

/* The skip test: the line arrives before the window starts. */
static bool skipped(const line_record &l, float start)
{
    return start > l.t_recv;
}

/* The stop test: the line is sent after the window ends. */
static bool past_end(const line_record &l, float end)
{
    return l.t_send > end;
}

/* A time as the skip maxima see it: a NaN is never skipped, like +inf. */
static float recv_key(float t)
{
    return std::isnan(t) ? INF : t;
}

/* A time as the stop maxima see it: a NaN never ends a scan, like -inf. */
static float send_key(float t)
{
    return std::isnan(t) ? -INF : t;
}

void line_index_build(const line_record *lines, int32_t count)
{
    line_index_clear();
    if (lines == nullptr || count <= 0)
        return;
    line_index_state &x = g_line_index;
    x.recv_max.resize(count);
    x.send_max.resize(count);
    x.block_recv_max.assign((count + LINE_INDEX_BLOCK - 1) / LINE_INDEX_BLOCK, -INF);
    float rmax = -INF, smax = -INF;
    for (int32_t j = 0; j < count; j++) {
        float r = recv_key(lines[j].t_recv);
        rmax = std::max(rmax, r);
        smax = std::max(smax, send_key(lines[j].t_send));
        x.recv_max[j] = rmax;
        x.send_max[j] = smax;
        float &b = x.block_recv_max[j / LINE_INDEX_BLOCK];
        b = std::max(b, r);
    }
    x.lines = lines;
    x.count = count;
}

void line_index_clear()
{
    line_index_state &x = g_line_index;
    x.lines = nullptr;
    x.count = 0;
    std::vector<float>().swap(x.recv_max);
    std::vector<float>().swap(x.send_max);
    std::vector<float>().swap(x.block_recv_max);
}

/* Whether g_line_index describes this very list. */
static bool index_fits(const line_record *lines, int32_t count)
{
    return lines != nullptr && count > 0 && g_line_index.lines == lines &&
           g_line_index.count == count;
}

void window_lines_literal(const line_record *lines, int32_t count, float start, float end,
                          int32_t cap, std::vector<int32_t> &out)
{
    out.clear();
    for (int32_t j = 0; j < count && static_cast<int32_t>(out.size()) < cap; j++) {
        if (skipped(lines[j], start))
            continue;
        if (past_end(lines[j], end))
            break;
        out.push_back(j);
    }
}

int32_t next_unskipped(const line_record *lines, int32_t count, float start, int32_t from)
{
    if (!index_fits(lines, count)) {
        while (from < count && skipped(lines[from], start))
            from++;
        return from;
    }
    const std::vector<float> &blocks = g_line_index.block_recv_max;
    int32_t j = from;
    while (j < count) {
        if (j % LINE_INDEX_BLOCK == 0 && start > blocks[j / LINE_INDEX_BLOCK]) {
            j += LINE_INDEX_BLOCK;
            continue;
        }
        if (!skipped(lines[j], start))
            return j;
        j++;
    }
    return count;
}

/* The first line that start does not skip: every earlier one arrives
 * before start, since the largest arrival up to it does. */
static int32_t first_unskipped(float start)
{
    const std::vector<float> &m = g_line_index.recv_max;
    auto it = std::partition_point(m.begin(), m.end(), [start](float r) { return start > r; });
    return static_cast<int32_t>(it - m.begin());
}

/* The first line that could end the scan: no earlier one is sent after
 * end, since the latest send up to it is not. */
static int32_t first_possible_stop(float end)
{
    const std::vector<float> &m = g_line_index.send_max;
    auto it = std::partition_point(m.begin(), m.end(), [end](float s) { return !(s > end); });
    return static_cast<int32_t>(it - m.begin());
}

/*
 * The scan through the index: the lines it keeps go to `out` when given,
 * at most `cap`; returns the span.
 */
static window_span indexed_scan(const line_record *lines, int32_t count, float start, float end,
                                int32_t cap, std::vector<int32_t> *out)
{
    window_span span = {first_unskipped(start), count};
    int32_t may_stop = first_possible_stop(end);
    int32_t kept = 0;
    int32_t from = span.first;
    /* Without a list to fill nor a cap to reach, the lines before the first
     * that could end the scan need no look. */
    if (out == nullptr && cap == std::numeric_limits<int32_t>::max())
        from = std::max(from, may_stop);
    for (int32_t j = from; kept < cap; j++) {
        if (j < count && skipped(lines[j], start))
            j = next_unskipped(lines, count, start, j);
        if (j >= count)
            break;
        if (j >= may_stop && past_end(lines[j], end)) {
            span.stop = j;
            break;
        }
        if (out != nullptr)
            out->push_back(j);
        kept++;
    }
    return span;
}

void window_lines(const line_record *lines, int32_t count, float start, float end, int32_t cap,
                  std::vector<int32_t> &out)
{
    if (!index_fits(lines, count)) {
        window_lines_literal(lines, count, start, end, cap, out);
        return;
    }
    out.clear();
    indexed_scan(lines, count, start, end, cap, &out);
}

window_span window_span_of(const line_record *lines, int32_t count, float start, float end)
{
    if (index_fits(lines, count))
        return indexed_scan(lines, count, start, end, std::numeric_limits<int32_t>::max(),
                            nullptr);
    window_span span = {count, count};
    for (int32_t j = 0; j < count; j++) {
        if (skipped(lines[j], start))
            continue;
        if (span.first == count)
            span.first = j;
        if (past_end(lines[j], end)) {
            span.stop = j;
            break;
        }
    }
    return span;
}
