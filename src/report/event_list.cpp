/*
 * event_list.cpp --
 *
 *	The text of the analysis event list.
 */

#include "report/event_list.h"

#include <cstdio>
#include <string>

#include "analysis/events.h"
#include "analysis/line.h"
#include "trace/trace.h"

std::string event_detail(int line, int kind)
{
    seg_events e;
    if (!events_at(line, &e))
        return "-";
    char text[64];
    if (kind == EV_DUPLICATE_ACK) {
        std::snprintf(text, sizeof text, "#%d,of=%d", e.dup_num, e.ref + 1);
        return text;
    }
    if (kind == EV_STALL && e.ref >= 0) {
        const seg_record *rec = g_trace.main.rec;
        double gap = static_cast<double>(rec[line].time) - rec[e.ref].time;
        std::snprintf(text, sizeof text, "%.6fs,%s", gap, stall_cause_names[e.cause]);
        return text;
    }
    return "-";
}

int write_event_list(FILE *out)
{
    std::fputs("index time direction kind detail\n", out);
    int count = g_trace.lines != nullptr ? g_trace.main.count : 0;
    for (int j = 0; j < count; j++) {
        if (static_cast<size_t>(j) >= g_events.seg.size())
            continue;
        const seg_event_bits *e = &g_events.seg[static_cast<size_t>(j)];
        if (e->kinds == 0)
            continue;
        const char *dir = g_trace.lines[j].dir == 1 ? "L>R" : "R>L";
        for (int k = 0; k < EVENT_KINDS; k++) {
            if (!(e->kinds & (1u << k)))
                continue;
            std::fprintf(out, "%d %.6f %s %s %s\n", j + 1,
                         static_cast<double>(g_trace.main.rec[j].time), dir,
                         event_kind_names[k], event_detail(j, k).c_str());
        }
    }
    return std::fflush(out) == 0 && !std::ferror(out);
}
