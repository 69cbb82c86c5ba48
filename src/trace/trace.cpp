/*
 * trace.cpp --
 *
 *	The one instance of the process-wide trace state, the helpers that
 *	free traces, the copy blocks that hold the packet copies of a trace,
 *	and the address table the records index. Who sets each field is told
 *	in trace.h.
 */

#include "trace/trace.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

trace_state g_trace;

namespace {

/* The copy space of block b, right after its header. */
uint8_t *block_space(copy_block *b)
{
    return reinterpret_cast<uint8_t *>(b + 1);
}

/* A new zero-filled block of at least n bytes chained before t's newest. */
copy_block *new_block(trace_array *t, size_t n)
{
    size_t size = n > COPY_BLOCK_BYTES ? n : (size_t)COPY_BLOCK_BYTES;
    if (size > SIZE_MAX - sizeof(copy_block))
        return nullptr;
    copy_block *b = static_cast<copy_block *>(std::calloc(1, sizeof(copy_block) + size));
    if (b == nullptr)
        return nullptr;
    b->prev = t->copies;
    b->size = size;
    b->used = 0;
    t->copies = b;
    return b;
}

}  // namespace

void trace_free(trace_array *t)
{
    while (t->copies != nullptr) {
        copy_block *prev = t->copies->prev;
        std::free(t->copies);
        t->copies = prev;
    }
    std::free(t->rec);
    t->rec = nullptr;
    t->count = 0;
    t->cap = 0;
}

uint8_t *trace_copy_space(trace_array *t, size_t n)
{
    if (n == 0)
        return nullptr;
    copy_block *b = t->copies;
    if (b == nullptr || b->size - b->used < n)
        b = new_block(t, n);
    if (b == nullptr)
        return nullptr;
    uint8_t *p = block_space(b) + b->used;
    b->used += n;
    return p;
}

uint16_t trace_address_index(const ip_address &a)
{
    address_table &tab = g_trace.addrs;
    for (int32_t i = 0; i <= tab.count; i++)
        if (std::memcmp(&tab.addr[i], &a, sizeof a) == 0)
            return (uint16_t)i;
    if (tab.count + 1 >= ADDRESS_TABLE_SIZE) {
        std::fputs("wirepaint: too many addresses\n", stderr);
        std::exit(-1);
    }
    tab.count++;
    tab.addr[tab.count] = a;
    return (uint16_t)tab.count;
}

void trace_addresses_clear()
{
    std::memset(&g_trace.addrs, 0, sizeof g_trace.addrs);
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
