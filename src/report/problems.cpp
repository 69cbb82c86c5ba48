/*
 * problems.cpp --
 *
 *	The rows of the Problems window and the search for the next event.
 */

#include "report/problems.h"

#include "analysis/events.h"
#include "report/event_list.h"
#include "text/detail.h"

std::vector<problem_row> problem_rows()
{
    std::vector<problem_row> rows;
    for (int k = 0; k < EVENT_KINDS; k++) {
        int64_t n = g_events.dir[0].count[k] + g_events.dir[1].count[k];
        if (n != 0)
            rows.push_back({k, n, event_is_warning(k)});
    }
    return rows;
}

uint16_t event_mask_named(const std::string &name)
{
    uint16_t mask = 0;
    for (int k = 0; k < EVENT_KINDS; k++) {
        bool take = name == "any" || name == event_kind_names[k] ||
                    (name == "warning" && event_is_warning(k));
        if (take)
            mask = static_cast<uint16_t>(mask | (1u << k));
    }
    return mask;
}

int32_t find_event(int32_t from, int step, uint16_t mask)
{
    int32_t count = static_cast<int32_t>(g_events.seg.size());
    if (step != 1 && step != -1)
        return 0;
    for (int32_t n = from + step; n >= 1 && n <= count; n += step)
        if (g_events.seg[static_cast<size_t>(n - 1)].kinds & mask)
            return n;
    return 0;
}

std::string event_line_text(int32_t n, uint16_t mask)
{
    seg_events ev;
    const seg_events *e = events_at(n - 1, &ev) ? &ev : nullptr;
    if (e == nullptr || (e->kinds & mask) == 0)
        return "";
    std::string text = "Segment " + std::to_string(n) + ": ";
    const char *sep = "";
    for (int k = 0; k < EVENT_KINDS; k++) {
        if (!(e->kinds & mask & (1u << k)))
            continue;
        std::string detail = event_detail(n - 1, k);
        text += sep;
        text += event_kind_names[k];
        if (detail != "-")
            text += " " + detail;
        sep = "; ";
    }
    return text;
}

std::string hover_events_suffix(int32_t line)
{
    seg_events e;
    if (events_at(line, &e) && e.kinds != 0)
        return "  [" + events_kinds_text(e.kinds, ' ') + "]";
    return "";
}

std::string segment_hover_text(int32_t line)
{
    return "Segment " + std::to_string(line + 1) + ": " + segment_detail_text(line, 1) +
           hover_events_suffix(line);
}
