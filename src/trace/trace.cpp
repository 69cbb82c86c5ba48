/*
 * trace.cpp --
 *
 *	The one instance of the process-wide trace state, and the helpers that
 *	free traces. Who sets each field is told in trace.h.
 */

#include "trace/trace.h"

#include <cstdlib>
#include <cstring>

trace_state g_trace;

void trace_free(trace_array *t)
{
    for (int32_t i = 0; i < t->count; i++)
        std::free(t->rec[i].bytes);
    std::free(t->rec);
    t->rec = nullptr;
    t->count = 0;
    t->cap = 0;
}

void trace_state_clear()
{
    trace_free(&g_trace.building);
    trace_free(&g_trace.main);
    trace_free(&g_trace.peer);
    std::free(g_trace.lines);
    std::free(g_trace.copybuf);
    std::memset(&g_trace, 0, sizeof g_trace);
}

float trace_span(const trace_array *t)
{
    if (t->count <= 0)
        return 0.0f;
    return t->rec[t->count - 1].time - t->rec[0].time;
}
