/*
 * relseq.cpp --
 *
 *	The relative sequence table: 919 chained buckets keyed by the ordered
 *	endpoint pair of a connection, each entry holding the two sequence
 *	bases of that connection. The bucket slots are the static array in
 *	g_text; every chain ends in a blank slot, which is taken for the next
 *	new entry of that bucket.
 */

#include "text/relseq.h"

#include <cstring>

#include "text/text_state.h"
#include "trace/trace.h"

namespace {

/* Whether the destination endpoint comes first in the pair. */
bool is_reversed(const uint8_t *src, const uint8_t *dst, int addr_len, uint16_t sport,
                 uint16_t dport)
{
    if (sport != dport)
        return dport < sport;
    return std::memcmp(dst, src, (size_t)addr_len) < 0;
}

relseq_key make_key(const uint8_t *first, uint16_t first_port, const uint8_t *second,
                    uint16_t second_port, int addr_len)
{
    relseq_key k;
    std::memset(&k, 0, sizeof k);
    std::memcpy(k.first_addr, first, (size_t)addr_len);
    std::memcpy(k.second_addr, second, (size_t)addr_len);
    k.port_pair = (uint32_t)first_port * 65536u + second_port;
    return k;
}

/*
 * The slot holding `key`, or the blank slot at the end of its chain, which
 * then gets the key and a new blank slot after it. *found tells which.
 */
relseq_slot *find_or_take(const relseq_key &key, bool *found)
{
    relseq_slot *s = &g_text.relseq[key.port_pair % RELSEQ_BUCKETS];
    while (s->next != nullptr) {
        if (std::memcmp(&s->key, &key, sizeof key) == 0) {
            *found = true;
            return s;
        }
        s = s->next;
    }
    *found = false;
    s->key = key;
    s->next = (relseq_slot *)text_zalloc(sizeof(relseq_slot));
    g_text.relseq_extra++;
    return s;
}

}  // namespace

relseq_result relative_sequence_numbers(const uint8_t *src, const uint8_t *dst, int addr_len,
                                        uint16_t sport, uint16_t dport, uint8_t flags,
                                        uint32_t seq, uint32_t ack)
{
    bool reversed = is_reversed(src, dst, addr_len, sport, dport);
    relseq_key key = reversed ? make_key(dst, dport, src, sport, addr_len)
                              : make_key(src, sport, dst, dport, addr_len);
    bool found = false;
    relseq_slot *s = find_or_take(key, &found);

    relseq_result r;
    r.seq = seq;
    r.ack = ack;
    if (found && (flags & TH_SYN) == 0) {
        if (reversed) {
            r.seq = seq - s->second_base;
            r.ack = ack - s->first_base;
        } else {
            r.seq = seq - s->first_base;
            r.ack = ack - s->second_base;
        }
    } else if (reversed) {
        s->second_base = seq;
        s->first_base = ack - 1;
    } else {
        s->first_base = seq;
        s->second_base = ack - 1;
    }
    r.sack_base = reversed ? s->first_base : s->second_base;
    return r;
}
