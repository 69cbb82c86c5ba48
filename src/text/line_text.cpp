/*
 * line_text.cpp --
 *
 *	Line labels and the priming pass after a load. The delay estimator of
 *	the analysis and the text tables are independent of each other, so a
 *	pass after the line-list build gives what priming inside the build
 *	would. The priming formats nothing: a label is formatted only when it
 *	is published, and the summary runs with a discarding writer.
 */

#include "text/line_text.h"

#include <cstdio>

#include "text/detail.h"
#include "trace/flow.h"
#include "trace/trace.h"

void format_record_label(const seg_record &r, char *label, size_t size)
{
    std::snprintf(label, size, " %ld:%ld(%d) ack %ld win %d ", (long)seq_of(r),
                  (long)(seq_of(r) + r.paylen), (int)r.paylen, (long)ack_of(r), (int)r.win);
}

void format_line_label(int32_t line, char *label, size_t size)
{
    if (line < 0 || line >= g_trace.main.count || g_trace.main.rec == nullptr) {
        if (size > 0)
            label[0] = 0;
        return;
    }
    format_record_label(g_trace.main.rec[line], label, size);
}

namespace {

/* Whether there are lines to prime. */
bool have_lines()
{
    return g_trace.main.count > 0 && g_trace.lines != nullptr && g_trace.main.rec != nullptr;
}

}  // namespace

void prime_text_state()
{
    if (!have_lines())
        return;
    prime_record_texts();
}

void prime_record_texts()
{
    if (g_trace.main.rec == nullptr)
        return;
    /* Every record's bytes are read once, in file order: the pages of
     * the mapped file read are given back as the pass goes. */
    for (int32_t i = 0; i < g_trace.main.count; i++) {
        trace_release_behind(&g_trace.main, i);
        prime_record_text(i);
    }
    trace_release_behind(&g_trace.main, g_trace.main.count);
}

void prime_text_state_literal()
{
    if (!have_lines())
        return;
    for (int32_t i = 0; i < g_trace.main.count; i++)
        segment_detail_text(i, 1);
}
