/*
 * pcapng_walk.cpp --
 *
 *	The pcapng walk of pcapng_walk.h: libpcap's reading of a pcapng
 *	savefile (its block reader, its interface table, its time stamp
 *	scaling and its checks, with their texts), done on the bytes where
 *	they lie (a map, a ring: a pcapng_source) instead of a copy of each
 *	block. Every number is read with an explicit byte-order reader,
 *	never past the block the walk checked lies whole in the data.
 */

#include "capture/pcapng_walk.h"

#include <cstdint>
#include <cstdio>
#include <new>
#include <vector>

#include "capture/bytes.h"
#include "capture/filemap.h"
#include "capture/linktype.h"

namespace {

enum : uint32_t {
    BLOCK_INTERFACE = 1,
    BLOCK_PACKET = 2,
    BLOCK_SIMPLE = 3,
    BLOCK_ENHANCED = 6,
    BYTE_ORDER_MAGIC = 0x1A2B3C4D,
    BYTE_ORDER_SWAPPED = 0x4D3C2B1A
};

/* libpcap's largest block before a link type raises it (none read by
 * wirepaint does); header and trailer of every block. */
const uint32_t MAX_BLOCK = 16 * 1024 * 1024;
const size_t BLOCK_HEADER = 8, BLOCK_TRAILER = 4;

/* Interface options. */
enum { OPT_END = 0, IF_TSRESOL = 9, IF_TSOFFSET = 14 };

/* What libpcap does to an interface's fractions of a second to make
 * microseconds of them. */
enum scale_type { PASS_THROUGH, SCALE_UP_DEC, SCALE_UP_BIN, SCALE_DOWN_DEC, SCALE_DOWN_BIN };

const uint64_t USER_RESOLUTION = 1000000;   /* microseconds */

struct interface {
    uint64_t tsresol, tsoffset, scale_factor;
    scale_type scale;
};

/* The unread rest of one block: libpcap's cursor. */
struct cursor {
    const uint8_t *at;  /* the next byte */
    size_t remaining;   /* bytes left before the trailer */
    uint32_t type;
};

}  // namespace

struct pcapng_walk {
    bool started = false;               /* past the first section header */
    bool swapped = false;               /* blocks in the other byte order */
    size_t held = 0;                    /* bytes of the block read last,
                                         * passed when the next is read */
    std::vector<interface> interfaces;  /* of the current section */
    std::vector<int32_t> simple_index;  /* records from simple packet blocks */
    std::vector<uint32_t> simple_caplen;/* ... and their captured lengths */
    bool handed_simple = false;         /* the record handed last was one */
    uint32_t handed_caplen = 0;         /* ... of this captured length */
};

namespace {

uint32_t word(bool swapped, const uint8_t *p)
{
    return swapped ? read_be32(p) : read_le32(p);
}

uint16_t half(bool swapped, const uint8_t *p)
{
    return swapped ? read_be16(p) : read_le16(p);
}

uint64_t quad(bool swapped, const uint8_t *p)
{
    uint64_t v = 0;
    for (int k = 0; k < 8; k++)
        v = swapped ? v << 8 | p[k] : v | (uint64_t)p[k] << (8 * k);
    return v;
}

/* libpcap's get_from_block_data: the next `n` bytes of the block, or
 * false with its text. */
bool take(cursor *c, size_t n, const uint8_t **at, char *errbuf)
{
    if (c->remaining < n) {
        std::snprintf(errbuf, PCAP_ERRBUF_SIZE, "block of type %u in pcapng dump file is too short",
                      c->type);
        return false;
    }
    *at = c->at;
    c->at += n;
    c->remaining -= n;
    return true;
}

void truncated(size_t wanted, size_t got, char *errbuf)
{
    std::snprintf(errbuf, PCAP_ERRBUF_SIZE,
                  "truncated pcapng dump file; tried to read %zu bytes, only got %zu", wanted, got);
}

/* libpcap's read_block on the bytes of `src`: 1 with the cursor (its
 * bytes valid until the next call), 0 at the end of the data, -1 with
 * the text. */
int read_block(pcapng_walk *w, const pcapng_source &src, cursor *c, char *errbuf)
{
    if (w->held > 0) {
        src.pass(src.ctx, w->held);
        w->held = 0;
    }
    const uint8_t *p = nullptr;
    size_t left = 0;
    if (src.look(src.ctx, BLOCK_HEADER, &p, &left, errbuf) < 0)
        return -1;
    if (left == 0)
        return 0;
    if (left < BLOCK_HEADER) {
        truncated(BLOCK_HEADER, left, errbuf);
        return -1;
    }
    uint32_t type = word(w->swapped, p), total = word(w->swapped, p + 4);
    if (total < BLOCK_HEADER + BLOCK_TRAILER) {
        std::snprintf(errbuf, PCAP_ERRBUF_SIZE, "block in pcapng dump file has a length of %u < %zu",
                      total, BLOCK_HEADER + BLOCK_TRAILER);
        return -1;
    }
    if (total % 4 != 0) {
        std::snprintf(errbuf, PCAP_ERRBUF_SIZE,
                      "block in pcapng dump file has a length of %u that is not a multiple of 4",
                      total);
        return -1;
    }
    if (total > MAX_BLOCK) {
        std::snprintf(errbuf, PCAP_ERRBUF_SIZE, "pcapng block size %u > maximum %u", total, MAX_BLOCK);
        return -1;
    }
    size_t rest = total - BLOCK_HEADER;
    if (src.look(src.ctx, total, &p, &left, errbuf) < 0)
        return -1;
    if (left - BLOCK_HEADER < rest) {
        truncated(rest, left - BLOCK_HEADER, errbuf);
        return -1;
    }
    if (word(w->swapped, p + total - BLOCK_TRAILER) != total) {
        std::snprintf(errbuf, PCAP_ERRBUF_SIZE, "block total length in header and trailer don't match");
        return -1;
    }
    w->held = total;
    *c = cursor{p + BLOCK_HEADER, rest - BLOCK_TRAILER, type};
    return 1;
}

/* libpcap's process_idb_options: the interface's resolution and offset;
 * false with the text. */
bool read_interface_options(bool swapped, cursor *c, interface *f, bool *binary, char *errbuf)
{
    bool saw_tsresol = false, saw_tsoffset = false;
    while (c->remaining != 0) {
        const uint8_t *at = nullptr;
        if (!take(c, 4, &at, errbuf))
            return false;
        uint16_t code = half(swapped, at), len = half(swapped, at + 2);
        const uint8_t *value = nullptr;
        if (!take(c, ((size_t)len + 3) / 4 * 4, &value, errbuf))
            return false;
        if (code == OPT_END) {
            if (len == 0)
                return true;
            std::snprintf(errbuf, PCAP_ERRBUF_SIZE,
                          "Interface Description Block has opt_endofopt option with length %u != 0", len);
            return false;
        }
        if (code == IF_TSRESOL) {
            if (len != 1) {
                std::snprintf(errbuf, PCAP_ERRBUF_SIZE,
                              "Interface Description Block has if_tsresol option with length %u != 1", len);
                return false;
            }
            if (saw_tsresol) {
                std::snprintf(errbuf, PCAP_ERRBUF_SIZE,
                              "Interface Description Block has more than one if_tsresol option");
                return false;
            }
            saw_tsresol = true;
            uint8_t r = value[0];
            if (r & 0x80) {
                unsigned shift = r & 0x7f;
                if (shift > 63) {
                    std::snprintf(errbuf, PCAP_ERRBUF_SIZE,
                                  "Interface Description Block if_tsresol option resolution 2^-%u is too high",
                                  shift);
                    return false;
                }
                *binary = true;
                f->tsresol = (uint64_t)1 << shift;
            } else {
                if (r > 19) {
                    std::snprintf(errbuf, PCAP_ERRBUF_SIZE,
                                  "Interface Description Block if_tsresol option resolution 10^-%u is too high",
                                  r);
                    return false;
                }
                *binary = false;
                f->tsresol = 1;
                for (unsigned k = 0; k < r; k++)
                    f->tsresol *= 10;
            }
        } else if (code == IF_TSOFFSET) {
            if (len != 8) {
                std::snprintf(errbuf, PCAP_ERRBUF_SIZE,
                              "Interface Description Block has if_tsoffset option with length %u != 8", len);
                return false;
            }
            if (saw_tsoffset) {
                std::snprintf(errbuf, PCAP_ERRBUF_SIZE,
                              "Interface Description Block has more than one if_tsoffset option");
                return false;
            }
            saw_tsoffset = true;
            f->tsoffset = quad(swapped, value);
        }
    }
    return true;
}

/* libpcap's add_interface, the fixed part of the block taken already. */
bool add_interface(pcapng_walk *w, cursor *c, char *errbuf)
{
    interface f = {USER_RESOLUTION, 0, 0, PASS_THROUGH};
    bool binary = false;
    if (!read_interface_options(w->swapped, c, &f, &binary, errbuf))
        return false;
    if (f.tsresol == USER_RESOLUTION) {
        f.scale = PASS_THROUGH;
    } else if (f.tsresol > USER_RESOLUTION) {
        f.scale = binary ? SCALE_DOWN_BIN : SCALE_DOWN_DEC;
        f.scale_factor = binary ? 0 : f.tsresol / USER_RESOLUTION;
    } else {
        f.scale = binary ? SCALE_UP_BIN : SCALE_UP_DEC;
        f.scale_factor = binary ? 0 : USER_RESOLUTION / f.tsresol;
    }
    try {
        w->interfaces.push_back(f);
    } catch (const std::bad_alloc &) {
        std::snprintf(errbuf, PCAP_ERRBUF_SIZE,
                      "out of memory for per-interface information (%zu interfaces)",
                      w->interfaces.size() + 1);
        return false;
    }
    return true;
}

/* The bytes of a file in memory as a source of blocks. */
struct memory {
    const uint8_t *base;
    size_t len;
    size_t next;    /* offset of the reader's place */
};

int memory_look(void *ctx, size_t, const uint8_t **p, size_t *have, char *)
{
    memory *m = static_cast<memory *>(ctx);
    *p = m->base + m->next;
    *have = m->len - m->next;
    return 0;
}

void memory_pass(void *ctx, size_t n)
{
    static_cast<memory *>(ctx)->next += n;
}

/* The first section header and the blocks up to the first interface, in
 * the `len` bytes at `head` (the file's first bytes), as libpcap's open
 * read them (it accepted them: they read again the same); the offset of
 * the first block after them in *end. */
bool start(pcapng_walk *w, const uint8_t *head, size_t len, size_t *end, char *errbuf)
{
    w->started = true;
    if (len < 12) {
        truncated(12, len, errbuf);
        return false;
    }
    w->swapped = read_le32(head + 8) != BYTE_ORDER_MAGIC;
    memory m = {head, len, word(w->swapped, head + 4)};
    pcapng_source src = {memory_look, memory_pass, &m};
    cursor c;
    for (;;) {
        if (read_block(w, src, &c, errbuf) != 1)
            return false;
        if (c.type != BLOCK_INTERFACE)
            continue;
        const uint8_t *at = nullptr;
        bool ok = take(&c, 8, &at, errbuf) && add_interface(w, &c, errbuf);
        memory_pass(&m, w->held);
        w->held = 0;
        *end = m.next;
        return ok;
    }
}

/* An interface description block after the first section's first. */
bool later_interface(pcapng_walk *w, cursor *c, int linktype, int snapshot, char *errbuf)
{
    const uint8_t *at = nullptr;
    if (!take(c, 8, &at, errbuf))
        return false;
    uint16_t type = half(w->swapped, at);
    uint32_t snaplen = word(w->swapped, at + 4);
    if ((uint32_t)linktype != type) {
        std::snprintf(errbuf, PCAP_ERRBUF_SIZE,
                      "an interface has a type %u different from the type of the first interface", type);
        return false;
    }
    /* libpcap's pcap_adjust_snapshot: the link type's maximum for 0 or
     * more than INT_MAX (262144 for every type read here). */
    uint32_t adjusted = snaplen == 0 || snaplen > INT32_MAX ? 262144 : snaplen;
    if ((uint32_t)snapshot != adjusted) {
        std::snprintf(errbuf, PCAP_ERRBUF_SIZE,
                      "an interface has a snapshot length %u different from the snapshot length of the first interface",
                      snaplen);
        return false;
    }
    return add_interface(w, c, errbuf);
}

/* A section header block after the first. */
bool later_section(pcapng_walk *w, cursor *c, char *errbuf)
{
    const uint8_t *at = nullptr;
    if (!take(c, 16, &at, errbuf))
        return false;
    uint32_t magic = word(w->swapped, at);
    if (magic == BYTE_ORDER_SWAPPED) {
        std::snprintf(errbuf, PCAP_ERRBUF_SIZE, "the file has sections with different byte orders");
        return false;
    }
    if (magic != BYTE_ORDER_MAGIC) {
        std::snprintf(errbuf, PCAP_ERRBUF_SIZE, "the file has a section with a bad byte order magic field");
        return false;
    }
    uint16_t major = half(w->swapped, at + 4);
    if (major != 1) {
        std::snprintf(errbuf, PCAP_ERRBUF_SIZE, "unknown pcapng savefile major version number %u", major);
        return false;
    }
    w->interfaces.clear();
    return true;
}

/* A time stamp of `t` units of interface f, as libpcap makes it. */
void stamp(const interface &f, uint64_t t, struct pcap_pkthdr *hdr)
{
    uint64_t sec = t / f.tsresol + f.tsoffset;
    uint64_t frac = t % f.tsresol;
    switch (f.scale) {
    case PASS_THROUGH:
        break;
    case SCALE_UP_DEC:
        frac *= f.scale_factor;
        break;
    case SCALE_UP_BIN:
    case SCALE_DOWN_BIN:
        frac *= USER_RESOLUTION;
        frac /= f.tsresol;
        break;
    case SCALE_DOWN_DEC:
        frac /= f.scale_factor;
        break;
    }
    hdr->ts.tv_sec = (time_t)sec;
    hdr->ts.tv_usec = (suseconds_t)(int)frac;
}

}  // namespace

pcapng_walk *pcapng_walk_open()
{
    return new (std::nothrow) pcapng_walk();
}

void pcapng_walk_free(pcapng_walk *w)
{
    delete w;
}

int pcapng_next_in(pcapng_walk *w, const pcapng_source &src, int linktype, int snapshot,
                   struct pcap_pkthdr *hdr, const uint8_t **data, char *errbuf)
{
    uint32_t iface = 0;
    uint64_t t = 0;
    cursor c;
    const uint8_t *at = nullptr;
    for (;;) {
        int got = read_block(w, src, &c, errbuf);
        if (got != 1)
            return got;
        if (c.type == BLOCK_ENHANCED || c.type == BLOCK_PACKET) {
            if (!take(&c, 20, &at, errbuf))
                return -1;
            bool enhanced = c.type == BLOCK_ENHANCED;
            iface = enhanced ? word(w->swapped, at) : half(w->swapped, at);
            t = (uint64_t)word(w->swapped, at + 4) << 32 | word(w->swapped, at + 8);
            hdr->caplen = word(w->swapped, at + 12);
            hdr->len = word(w->swapped, at + 16);
            w->handed_simple = false;
            break;
        }
        if (c.type == BLOCK_SIMPLE) {
            if (!take(&c, 4, &at, errbuf))
                return -1;
            iface = 0;
            t = 0;
            hdr->len = word(w->swapped, at);
            hdr->caplen = hdr->len > (uint32_t)snapshot ? (uint32_t)snapshot : hdr->len;
            w->handed_simple = true;
            w->handed_caplen = hdr->caplen;
            break;
        }
        bool ok = c.type == BLOCK_INTERFACE ? later_interface(w, &c, linktype, snapshot, errbuf)
                  : c.type == PCAPNG_SECTION_BLOCK ? later_section(w, &c, errbuf)
                                                   : true;
        if (!ok)
            return -1;
    }
    if (iface >= w->interfaces.size()) {
        std::snprintf(errbuf, PCAP_ERRBUF_SIZE,
                      "a packet arrived on interface %u, but there's no Interface Description Block for that interface",
                      iface);
        return -1;
    }
    if (hdr->caplen > (uint32_t)snapshot) {
        std::snprintf(errbuf, PCAP_ERRBUF_SIZE, "invalid packet capture length %u, bigger than snaplen of %d",
                      hdr->caplen, snapshot);
        return -1;
    }
    stamp(w->interfaces[iface], t, hdr);
    if (!take(&c, hdr->caplen, &at, errbuf))
        return -1;
    *data = at;
    return 1;
}

int pcapng_next(file_map *m, int linktype, int snapshot, struct pcap_pkthdr *hdr,
                const uint8_t **data, char *errbuf)
{
    pcapng_walk *w = m->ng;
    m->handing = true;
    if (!w->started && !start(w, m->base, m->len, &m->next, errbuf))
        return -1;
    memory mem = {m->base, m->len, m->next};
    pcapng_source src = {memory_look, memory_pass, &mem};
    int got = pcapng_next_in(w, src, linktype, snapshot, hdr, data, errbuf);
    /* The map's place is past the block read last: it is not passed
     * again at the next call. */
    m->next = mem.next + w->held;
    w->held = 0;
    if (got != 1)
        return got;
    size_t at = (size_t)(*data - m->base);
    /* The classic walk's place of a record: its captured length 8 bytes
     * in, its data 16 (as in enhanced and packet blocks). */
    m->handed = at - 16;
    filemap_walked(m, at);
    return 1;
}

bool pcapng_walkable(pcap_t *pc, bool swapped, int linktype)
{
    int lt = pcap_datalink(pc);
    bool cooked = lt == DLT_LINUX_SLL || lt == DLT_LINUX_SLL2;
    return pcap_major_version(pc) == 1 && (pcap_is_swapped(pc) == 1) == swapped && lt == linktype &&
           pcap_get_tstamp_precision(pc) == PCAP_TSTAMP_PRECISION_MICRO &&
           link_header_length(lt) >= 0 && !(cooked && swapped);
}

int pcapng_start_in(pcapng_walk *w, const uint8_t *head, size_t len, char *errbuf)
{
    size_t end = 0;
    return start(w, head, len, &end, errbuf) ? 1 : -1;
}

int64_t pcapng_simple_caplen(const pcapng_walk *w, int32_t i)
{
    if (w == nullptr || w->simple_index.empty())
        return -1;
    size_t lo = 0, hi = w->simple_index.size();
    while (lo < hi) {
        size_t mid = (lo + hi) / 2;
        if (w->simple_index[mid] < i)
            lo = mid + 1;
        else
            hi = mid;
    }
    if (lo == w->simple_index.size() || w->simple_index[lo] != i)
        return -1;
    return w->simple_caplen[lo];
}

bool pcapng_handed_simple(const pcapng_walk *w)
{
    return w != nullptr && w->handed_simple;
}

bool pcapng_note_simple(pcapng_walk *w, int32_t i)
{
    try {
        w->simple_index.push_back(i);
        w->simple_caplen.push_back(w->handed_caplen);
    } catch (const std::bad_alloc &) {
        return false;
    }
    return true;
}
