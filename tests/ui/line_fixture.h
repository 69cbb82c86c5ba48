/*
 * line_fixture.h --
 *
 *	Line lists for the publication tests: a line from its send time,
 *	delay, direction and class, appended to a list the test owns and
 *	installed as the main trace's line list.
 */

#ifndef WIREPAINT_TESTS_UI_LINE_FIXTURE_H
#define WIREPAINT_TESTS_UI_LINE_FIXTURE_H

#include <cstdint>
#include <vector>

#include "analysis/line.h"
#include "trace/trace.h"

/* Appends a line to `lines` and makes `lines` the line list of
 * g_trace.main (count included); the list must outlive its use. */
inline void append_line(std::vector<line_record> &lines, float t_send, float delay, int dir,
                        int cls)
{
    line_record l{};
    l.dir = dir;
    l.t_send = t_send;
    l.delay = delay;
    l.t_recv = t_send + delay;
    l.cls = cls;
    lines.push_back(l);
    g_trace.lines = lines.data();
    g_trace.main.count = static_cast<int32_t>(lines.size());
}

#endif
