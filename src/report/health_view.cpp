/*
 * health_view.cpp --
 *
 *	Sorting and filtering of the Connections dialog's rows.
 */

#include "report/health_view.h"

#include <algorithm>
#include <cctype>
#include <cstring>

#include "analysis/events.h"

namespace {

/* The columns of health_cell_names, by index. */
enum {
    COL_NUMBER, COL_VERDICT, COL_FROM, COL_TO, COL_PKTS_FROM, COL_BYTES_FROM, COL_PKTS_TO,
    COL_BYTES_TO, COL_FIRST, COL_DURATION, COL_RTT, COL_RETR_FROM, COL_RETR_TO, COL_ZWIN_FROM,
    COL_ZWIN_TO, COL_STALL, COL_CAUSE, COL_GPUT_FROM, COL_GPUT_TO, COL_REASON
};

std::string lower(std::string s)
{
    for (char &c : s)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

/* The value a numeric column sorts by. */
double number_key(const health_row &r, int column)
{
    const conn_row &c = r.conn;
    const conn_health &h = r.health;
    switch (column) {
    case COL_PKTS_FROM: return static_cast<double>(c.packets[0]);
    case COL_BYTES_FROM: return static_cast<double>(c.bytes[0]);
    case COL_PKTS_TO: return static_cast<double>(c.packets[1]);
    case COL_BYTES_TO: return static_cast<double>(c.bytes[1]);
    case COL_FIRST: return static_cast<double>(c.first_sec) + c.first_usec / 1e6;
    case COL_DURATION: return h.duration;
    case COL_RTT: return h.rtt_median;
    case COL_RETR_FROM: return static_cast<double>(h.retransmissions[0]);
    case COL_RETR_TO: return static_cast<double>(h.retransmissions[1]);
    case COL_ZWIN_FROM: return static_cast<double>(h.zero_windows[0]);
    case COL_ZWIN_TO: return static_cast<double>(h.zero_windows[1]);
    case COL_STALL: return h.longest_stall;
    case COL_GPUT_FROM: return health_goodput(r, 0);
    case COL_GPUT_TO: return health_goodput(r, 1);
    case COL_VERDICT: return h.verdict;
    default: return 0.0;
    }
}

/* -1, 0, 1 as end `i` of a sorts before, with or after end `i` of b. */
int compare_end(const conn_ends &a, const conn_ends &b, int i)
{
    if (a.v6 != b.v6)
        return a.v6 < b.v6 ? -1 : 1;
    int c = std::memcmp(a.addr[i], b.addr[i], 16);
    if (c != 0)
        return c < 0 ? -1 : 1;
    return a.port[i] < b.port[i] ? -1 : a.port[i] > b.port[i] ? 1 : 0;
}

/* -1, 0, 1 as row a sorts before, with or after row b by `column`, one
 * of the ends or the stall cause. */
int compare(const health_row &a, const health_row &b, int column)
{
    if (column == COL_CAUSE)
        return std::strcmp(stall_cause_names[a.health.stall_cause],
                           stall_cause_names[b.health.stall_cause]);
    return compare_end(a.conn.ends, b.conn.ends, column == COL_FROM ? 0 : 1);
}

void apply_filter(health_view *v)
{
    v->shown.clear();
    for (int32_t i : v->sorted)
        if (v->filter.empty() || v->search[static_cast<size_t>(i)].find(v->filter) !=
                                     std::string::npos)
            v->shown.push_back(i);
}

}  // namespace

void health_view_set(health_view *v, std::vector<health_row> rows)
{
    v->rows = std::move(rows);
    v->search.clear();
    v->search.reserve(v->rows.size());
    for (const health_row &r : v->rows)
        v->search.push_back(lower(conn_end_text(r.conn.ends, 0) + " " +
                                  conn_end_text(r.conn.ends, 1) + " " +
                                  verdict_names[r.health.verdict]));
    v->filter.clear();
    health_view_sort(v, COL_VERDICT, false);
}

void health_view_sort(health_view *v, int column, bool descending)
{
    v->column = column;
    v->descending = descending;
    size_t n = v->rows.size();
    v->sorted.resize(n);
    for (size_t i = 0; i < n; i++)
        v->sorted[i] = static_cast<int32_t>(i);
    const std::vector<health_row> &rows = v->rows;
    auto tie = [&](int32_t a, int32_t b) {
        return column == COL_NUMBER && descending ? a > b : a < b;
    };
    if (column == COL_REASON) {
        /* Texts: each row's reason made once, not in every comparison. */
        std::vector<std::string> key(n);
        for (size_t i = 0; i < n; i++)
            key[i] = health_reason(rows[i]);
        std::sort(v->sorted.begin(), v->sorted.end(), [&](int32_t a, int32_t b) {
            int c = key[static_cast<size_t>(a)].compare(key[static_cast<size_t>(b)]);
            if (c != 0)
                return descending ? c > 0 : c < 0;
            return tie(a, b);
        });
    } else if (column == COL_FROM || column == COL_TO || column == COL_CAUSE) {
        std::sort(v->sorted.begin(), v->sorted.end(), [&](int32_t a, int32_t b) {
            int c = compare(rows[static_cast<size_t>(a)], rows[static_cast<size_t>(b)], column);
            if (c != 0)
                return descending ? c > 0 : c < 0;
            return tie(a, b);
        });
    } else {
        /* Numbers: each row's key found once, not in every comparison. */
        std::vector<double> key(n);
        for (size_t i = 0; i < n; i++)
            key[i] = number_key(rows[i], column);
        std::sort(v->sorted.begin(), v->sorted.end(), [&](int32_t a, int32_t b) {
            double x = key[static_cast<size_t>(a)], y = key[static_cast<size_t>(b)];
            if (x != y)
                return descending ? x > y : x < y;
            return tie(a, b);
        });
    }
    apply_filter(v);
}

void health_view_filter(health_view *v, const std::string &text)
{
    v->filter = lower(text);
    apply_filter(v);
}
