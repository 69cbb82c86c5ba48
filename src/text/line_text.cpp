/*
 * line_text.cpp --
 *
 *	Labels and the priming pass of the line-list build. The two are done
 *	in one walk over the lines in index order; the delay estimator of the
 *	analysis and the text tables are independent of each other, so this
 *	separate pass gives what doing both inside the build would.
 */

#include "text/line_text.h"

#include <cstdio>

#include "analysis/line.h"
#include "text/detail.h"
#include "trace/trace.h"

void format_line_label(const seg_record &r, char *label, size_t size)
{
    std::snprintf(label, size, " %ld:%ld(%d) ack %ld win %d ", (long)r.seq,
                  (long)(r.seq + r.paylen), (int)r.paylen, (long)r.ack, (int)r.win);
}

void annotate_lines()
{
    if (g_trace.main.count <= 0 || g_trace.lines == nullptr || g_trace.main.rec == nullptr)
        return;
    for (int32_t i = 0; i < g_trace.main.count; i++) {
        line_record &l = g_trace.lines[i];
        format_line_label(g_trace.main.rec[i], l.label, sizeof l.label);
        segment_detail_text(i, 1);
    }
}
