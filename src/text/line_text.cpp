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
#include <vector>

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

namespace {

/* Every record in index order through the whole summary; the pages of
 * the mapped file read are given back as the pass goes. */
void prime_every_record(const trace_array &t)
{
    for (int32_t i = 0; i < t.count; i++) {
        trace_release_behind(&t, i);
        prime_record_text(i);
    }
}

/*
 * Whether record r must go through the whole summary, `known` holding
 * the flow entries of which a record went through it as far as the
 * relative sequence table. A record of such an entry (the decoder read
 * its hosts and ports from the bytes the summary reads) finds its hosts,
 * ports and connection in the tables, and without SYN it changes no base.
 */
bool needs_whole_summary(const seg_record &r, const std::vector<uint8_t> &known)
{
    if (r.tcp_flags & TH_SYN)
        return true;
    return r.flow == 0 || r.flow >= known.size() || known[r.flow] == 0;
}

/*
 * Whether the records of t, passed in rising index order, may end their
 * summary with a malformed option: the decoder's list of them
 * (trace_array.bad_opt) when it holds every record and was made on the
 * bytes the summary reads, those of a copy length no longer than the one
 * it reads; else each record's bytes, read again.
 */
class bad_options_cursor {
public:
    explicit bad_options_cursor(const trace_array &t)
        : t_(t), listed_(t.bad_opt_upto == t.count && t.copy_len > 0 &&
                         g_trace.copy_len >= t.copy_len)
    {
    }

    /* For record i, i above the one asked for before. */
    bool may_mark(int32_t i)
    {
        if (!listed_)
            return record_may_mark_bad_options(i);
        while (next_ < t_.bad_opt_count && t_.bad_opt[next_] < i)
            next_++;
        return next_ < t_.bad_opt_count && t_.bad_opt[next_] == i;
    }

private:
    const trace_array &t_;
    bool listed_;
    int32_t next_ = 0;
};

}  // namespace

void prime_record_texts()
{
    const trace_array &t = g_trace.main;
    if (t.rec == nullptr)
        return;
    if (t.count == 0 || !record_located_as_read(0)) {
        prime_every_record(t);
        trace_release_behind(&t, t.count);
        return;
    }
    std::vector<uint8_t> known(static_cast<size_t>(g_trace.flows.count) + 1, 0);
    /* The decoder counted the records without options: when they are all
     * but the SYNs, no other record's bytes need be read. */
    bool options = t.option_free != t.count;
    bad_options_cursor bad(t);
    for (int32_t i = 0; i < t.count; i++) {
        const seg_record &r = t.rec[i];
        if (options)
            trace_release_behind(&t, i);
        if (!needs_whole_summary(r, known)) {
            if (options && bad.may_mark(i))
                prime_record_text(i);
            continue;
        }
        if (prime_record_text(i) && r.flow < known.size())
            known[r.flow] = 1;
    }
    trace_release_behind(&t, t.count);
}

void prime_text_state_literal()
{
    if (!have_lines())
        return;
    for (int32_t i = 0; i < g_trace.main.count; i++)
        segment_detail_text(i, 1);
}
