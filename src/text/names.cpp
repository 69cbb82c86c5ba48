/*
 * names.cpp --
 *
 *	The three name caches. Each is a static array of 4096 bucket slots in
 *	g_text; a bucket's chain grows at its end, one slot per new key, with
 *	slots from an entry pool that hands out blocks of 64 zero-filled
 *	slots, so one allocation serves 64 new entries. A lookup finds the
 *	oldest entry first. Texts are private copies that are never freed.
 */

#include "text/names.h"

#include <arpa/inet.h>
#include <netinet/in.h>

#include <cstdio>
#include <cstring>

#include "text/text_state.h"

namespace {

/* A private copy of `s`, owned by a cache. */
char *copy_text(const char *s)
{
    size_t n = std::strlen(s) + 1;
    char *p = (char *)text_zalloc(n);
    std::memcpy(p, s, n);
    return p;
}

/*
 * The next slot of an entry pool (name_pool or name6_pool), taking a new
 * block of NAME_POOL_BLOCK zeroed slots when the current one is used up.
 */
template <typename Pool, typename Block>
auto take_from(Pool &p) -> decltype(&p.block->slot[0])
{
    if (p.left == 0) {
        Block *b = (Block *)text_zalloc(sizeof(Block));
        b->prev = p.block;
        p.block = b;
        p.blocks++;
        p.left = NAME_POOL_BLOCK;
    }
    auto *s = &p.block->slot[NAME_POOL_BLOCK - p.left];
    p.left--;
    return s;
}

/* A slot of the pool shared by the IPv4 and port caches. */
name_entry *take_slot()
{
    return take_from<name_pool, name_block>(g_text.pool);
}

/* A slot of the IPv6 cache's pool. */
name6_entry *take_slot6()
{
    return take_from<name6_pool, name6_block>(g_text.pool6);
}

/*
 * The slot of `key` in the chain starting at `s`; at the blank slot that
 * ends the chain, the key is stored there and a new blank slot linked.
 * *fresh tells whether the slot is new and so still needs its text.
 */
name_entry *find_or_add(name_entry *s, uint32_t key, bool *fresh)
{
    for (; s->next != nullptr; s = s->next) {
        if (s->key == key) {
            *fresh = false;
            return s;
        }
    }
    s->key = key;
    s->next = take_slot();
    *fresh = true;
    return s;
}

}  // namespace

const char *dotted_quad_text(const uint8_t *a)
{
    char *p = g_text.quad + sizeof g_text.quad - 1;
    *p = 0;
    for (int i = 3; i >= 0; i--) {
        unsigned v = a[i];
        do {
            *--p = (char)('0' + v % 10);
            v /= 10;
        } while (v != 0);
        *--p = '.';
    }
    return p + 1;
}

const char *ipv4_host_text(const uint8_t *a)
{
    uint32_t key = (uint32_t)a[0] | ((uint32_t)a[1] << 8) | ((uint32_t)a[2] << 16) |
                   ((uint32_t)a[3] << 24);
    bool fresh = false;
    name_entry *s = find_or_add(&g_text.ipv4_cache[key % NAME_BUCKETS], key, &fresh);
    if (fresh)
        s->text = copy_text(dotted_quad_text(a));
    return s->text;
}

const char *tcp_port_text(uint16_t port)
{
    uint32_t key = port;
    bool fresh = false;
    name_entry *s = find_or_add(&g_text.port_cache[key % NAME_BUCKETS], key, &fresh);
    if (fresh) {
        char buf[6];
        std::snprintf(buf, sizeof buf, "%u", (unsigned)port);
        s->text = copy_text(buf);
    }
    return s->text;
}

const char *ipv6_host_text(const uint8_t *a)
{
    name6_entry *s = &g_text.ipv6_cache[(a[14] + 256u * a[15]) % NAME_BUCKETS];
    for (; s->next != nullptr; s = s->next)
        if (std::memcmp(s->addr, a, 16) == 0)
            return s->text;
    std::memcpy(s->addr, a, 16);
    s->next = take_slot6();
    char buf[INET6_ADDRSTRLEN];
    if (inet_ntop(AF_INET6, a, buf, sizeof buf) == nullptr)
        buf[0] = 0;
    s->text = copy_text(buf);
    return s->text;
}
