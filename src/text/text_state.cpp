/*
 * text_state.cpp --
 *
 *	The one instance of the segment text state, and the test reset that
 *	frees what the relative sequence table and the name caches allocated.
 */

#include "text/text_state.h"
#include "capture/loadfail.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

text_state g_text;

namespace {

/* Frees the chained slots of one relative sequence bucket. */
void free_relseq_chain(relseq_slot *bucket)
{
    relseq_slot *s = bucket->next;
    while (s != nullptr) {
        relseq_slot *next = s->next;
        std::free(s);
        s = next;
    }
}

/* Frees the texts of one name cache chain; the slots belong to the pool. */
void free_name_texts(name_entry *s)
{
    for (; s->next != nullptr; s = s->next)
        std::free(s->text);
}

void free_name6_texts(name6_entry *s)
{
    for (; s->next != nullptr; s = s->next)
        std::free(s->text);
}

}  // namespace

void text_state_clear()
{
    for (int b = 0; b < RELSEQ_BUCKETS; b++)
        free_relseq_chain(&g_text.relseq[b]);
    for (int b = 0; b < NAME_BUCKETS; b++) {
        free_name_texts(&g_text.ipv4_cache[b]);
        free_name_texts(&g_text.port_cache[b]);
        free_name6_texts(&g_text.ipv6_cache[b]);
    }
    while (g_text.pool.block != nullptr) {
        name_block *prev = g_text.pool.block->prev;
        std::free(g_text.pool.block);
        g_text.pool.block = prev;
    }
    while (g_text.pool6.block != nullptr) {
        name6_block *prev = g_text.pool6.block->prev;
        std::free(g_text.pool6.block);
        g_text.pool6.block = prev;
    }
    std::memset(&g_text, 0, sizeof g_text);
}

void *text_zalloc(size_t size)
{
    void *p = std::calloc(1, size);
    if (p == nullptr)
        load_fail_errno(-1, "malloc");
    return p;
}
