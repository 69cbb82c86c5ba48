/*
 * trace.cpp --
 *
 *	The one instance of the process-wide trace state, the helpers that
 *	free traces, the copy blocks that hold the packet copies of a trace,
 *	and the address table the records index. Who sets each field is told
 *	in trace.h.
 */

#include "trace/trace.h"
#include "capture/filemap.h"
#include "capture/loadfail.h"
#include "capture/prefault.h"
#include "trace/scratch.h"

#include <sys/mman.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

trace_state g_trace;

namespace {

/* The size of a huge page, the unit the kernel can back large arrays with. */
const uintptr_t HUGE_PAGE = (uintptr_t)2 << 20;

uintptr_t round_up(uintptr_t v, uintptr_t unit)
{
    return (v + unit - 1) / unit * unit;
}

/* The copy space of block b, right after its header. */
uint8_t *block_space(copy_block *b)
{
    return reinterpret_cast<uint8_t *>(b + 1);
}

/*
 * Copies larger than this are filled sparsely (a long copy length holds
 * mostly zero fill that is never written), and are better served by small
 * pages, of which only the written ones take memory.
 */
const size_t DENSE_COPY_BYTES = 4096;

/*
 * `len` bytes of fresh zero pages starting on a huge-page boundary, so
 * that a system backing memory with huge pages can do so here (they are
 * not asked for: see trace/scratch.h); nullptr when the memory cannot be
 * had. The mapping is over-sized by one huge page and trimmed.
 */
void *map_aligned(size_t len)
{
    size_t over = len + HUGE_PAGE;
    void *m = mmap(nullptr, over, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (m == MAP_FAILED)
        return nullptr;
    uintptr_t start = (uintptr_t)m;
    uintptr_t aligned = round_up(start, HUGE_PAGE);
    if (aligned > start)
        munmap(m, aligned - start);
    uintptr_t end = start + over;
    if (end > aligned + len)
        munmap((void *)(aligned + len), end - (aligned + len));
    return (void *)aligned;
}

/* Makes room for one more block in t's table; false when it cannot. */
bool table_room(trace_array *t)
{
    if (t->nblocks < t->blocks_cap)
        return true;
    int32_t cap = t->blocks_cap < 16 ? 16 : t->blocks_cap * 2;
    if (cap <= t->blocks_cap)
        return false;
    void *p = std::realloc(t->blocks, (size_t)cap * sizeof(copy_block *));
    if (p == nullptr)
        return false;
    t->blocks = static_cast<copy_block **>(p);
    t->blocks_cap = cap;
    return true;
}

/* A new zero-filled block of at least n bytes chained before t's newest. */
copy_block *new_block(trace_array *t, size_t n)
{
    if (n > SIZE_MAX / 2 - sizeof(copy_block) - HUGE_PAGE || !table_room(t))
        return nullptr;
    size_t len = n + sizeof(copy_block) > COPY_BLOCK_BYTES ? n + sizeof(copy_block)
                                                            : (size_t)COPY_BLOCK_BYTES;
    len = round_up(len, HUGE_PAGE);
    copy_block *b = static_cast<copy_block *>(map_aligned(len));
    if (b == nullptr)
        return nullptr;
    b->prev = t->copies;
    b->size = len - sizeof(copy_block);
    b->used = 0;
    t->copies = b;
    t->blocks[t->nblocks++] = b;
    /* Its first bytes are written at once; the helper runs ahead. Not
     * for long copies, whose blocks are mostly fill that is never written
     * and takes no memory as long as nothing asks for its pages. */
    if (n <= DENSE_COPY_BYTES)
        prefault_ask(b, len);
    return b;
}

/* Bytes of a record mapping for `want` records: whole huge pages. */
size_t record_map_len(int32_t want)
{
    return round_up((size_t)want * sizeof(seg_record), HUGE_PAGE);
}

/* The records a mapping of `len` bytes holds, within the int32 count. */
int32_t records_in(size_t len)
{
    size_t n = len / sizeof(seg_record);
    return n > (size_t)INT32_MAX ? INT32_MAX : (int32_t)n;
}

}  // namespace

bool trace_grow_records(trace_array *t, int32_t want)
{
    if (want <= t->cap)
        return true;
    if (t->rec != nullptr && t->rec != t->rec_map) {
        void *p = std::realloc(t->rec, (size_t)want * sizeof(seg_record));
        if (p == nullptr)
            return false;
        t->rec = static_cast<seg_record *>(p);
        t->cap = want;
        return true;
    }
    size_t len = record_map_len(want);
    void *p;
    if (t->rec == nullptr) {
        p = map_aligned(len);
        if (p == nullptr)
            return false;
    } else {
        p = mremap(t->rec_map, t->rec_map_len, len, MREMAP_MAYMOVE);
        if (p == MAP_FAILED)
            return false;
    }
    t->rec = static_cast<seg_record *>(p);
    t->rec_map = p;
    t->rec_map_len = len;
    t->cap = records_in(len);
    return true;
}

void trace_ask_records_ahead(trace_array *t, int32_t from)
{
    if (t->rec == nullptr || t->rec != t->rec_map || from < 0 || from >= t->cap)
        return;
    size_t start = (size_t)from * sizeof(seg_record);
    size_t len = t->rec_map_len - start < (size_t)RECORDS_AHEAD ? t->rec_map_len - start
                                                                 : (size_t)RECORDS_AHEAD;
    prefault_ask((uint8_t *)t->rec_map + start, len);
}

namespace {

/* Gives back the whole huge pages of [from, end) of a mapping. */
void give_back(uint8_t *from, uint8_t *end)
{
    uint8_t *start = (uint8_t *)round_up((uintptr_t)from, HUGE_PAGE);
    if (end > start)
        madvise(start, (size_t)(end - start), MADV_DONTNEED);
}

}  // namespace

void trace_trim(trace_array *t)
{
    if (t->rec != nullptr && t->rec == t->rec_map)
        give_back((uint8_t *)(t->rec + t->count), (uint8_t *)t->rec_map + t->rec_map_len);
    copy_block *b = t->copies;
    if (b != nullptr)
        give_back(block_space(b) + b->used, block_space(b) + b->size);
}


void trace_free(trace_array *t)
{
    while (t->copies != nullptr) {
        copy_block *prev = t->copies->prev;
        munmap(t->copies, t->copies->size + sizeof(copy_block));
        t->copies = prev;
    }
    std::free(t->blocks);
    t->blocks = nullptr;
    t->nblocks = t->blocks_cap = 0;
    t->copy_len = t->per_block = t->ncopies = 0;
    if (t->rec != nullptr && t->rec == t->rec_map)
        munmap(t->rec_map, t->rec_map_len);
    else
        std::free(t->rec);
    t->rec = nullptr;
    t->rec_map = nullptr;
    t->rec_map_len = 0;
    t->count = 0;
    t->cap = 0;
    filemap_close(t->map);
    t->map = nullptr;
    std::memset(t->ttl_count, 0, sizeof t->ttl_count);
    t->option_free = 0;
    std::free(t->bad_opt);
    t->bad_opt = nullptr;
    t->bad_opt_count = t->bad_opt_cap = t->bad_opt_upto = 0;
}

bool trace_note_bad_options(trace_array *t, int32_t i)
{
    if (t->bad_opt_count == t->bad_opt_cap) {
        int64_t cap = t->bad_opt_cap < 64 ? 64 : (int64_t)t->bad_opt_cap * 2;
        if (cap > INT32_MAX)
            return false;
        void *p = std::realloc(t->bad_opt, (size_t)cap * sizeof(int32_t));
        if (p == nullptr)
            return false;
        t->bad_opt = static_cast<int32_t *>(p);
        t->bad_opt_cap = (int32_t)cap;
    }
    t->bad_opt[t->bad_opt_count++] = i;
    return true;
}

uint8_t *trace_new_copy(trace_array *t, size_t n, int32_t cap)
{
    if (n == 0 || n > (size_t)INT32_MAX - COPY_SLOT_HEAD ||
        (t->copy_len != 0 && n != (size_t)t->copy_len) || t->ncopies == INT32_MAX)
        return nullptr;
    size_t slot = n + COPY_SLOT_HEAD;
    copy_block *b = t->copies;
    if (b == nullptr || b->size - b->used < slot) {
        b = new_block(t, slot);
        if (b == nullptr)
            return nullptr;
        size_t per = b->size / slot;
        t->per_block = per > (size_t)INT32_MAX ? INT32_MAX : (int32_t)per;
    }
    t->copy_len = (int32_t)n;
    uint8_t *p = block_space(b) + b->used;
    std::memcpy(p, &cap, sizeof cap);
    b->used += slot;
    t->ncopies++;
    return p + COPY_SLOT_HEAD;
}

namespace {

/* The slot of record i, or nullptr. Every block holds per_block slots:
 * all blocks of a trace have the size its first slot asked for. */
uint8_t *slot_of(const trace_array *t, int32_t i)
{
    if (i < 0 || i >= t->ncopies || t->per_block <= 0)
        return nullptr;
    int32_t b = i / t->per_block;
    size_t at = (size_t)(i % t->per_block) * ((size_t)t->copy_len + COPY_SLOT_HEAD);
    return block_space(t->blocks[b]) + at;
}

}  // namespace

const uint8_t *record_bytes(const trace_array *t, int32_t i)
{
    int32_t cap = 0;
    if (t->map != nullptr)
        return filemap_bytes(t->map, i, t->copy_len, &cap);
    uint8_t *slot = slot_of(t, i);
    return slot == nullptr ? nullptr : slot + COPY_SLOT_HEAD;
}

int32_t record_cap_bytes(const trace_array *t, int32_t i)
{
    if (t->map != nullptr) {
        int32_t cap = 0;
        filemap_bytes(t->map, i, t->copy_len, &cap);
        return cap;
    }
    uint8_t *slot = slot_of(t, i);
    if (slot == nullptr)
        return 0;
    int32_t cap;
    std::memcpy(&cap, slot, sizeof cap);
    return cap;
}

bool trace_map_to_copies(trace_array *t)
{
    file_map *m = t->map;
    if (m == nullptr)
        return true;
    for (int32_t i = t->ncopies; i < m->count; i++) {
        int32_t cap = 0;
        const uint8_t *p = filemap_bytes(m, i, t->copy_len, &cap);
        uint8_t *copy = trace_new_copy(t, (size_t)t->copy_len, cap);
        if (copy == nullptr)
            return false;
        if (p != nullptr)
            std::memcpy(copy, p, (size_t)cap);
    }
    t->map = nullptr;
    filemap_close(m);
    return true;
}

void trace_release_bytes(const trace_array *t, int32_t from, int32_t to)
{
    filemap_release(t->map, from, to);
}

void trace_release_behind(const trace_array *t, int32_t i)
{
    bool end = i == t->count;
    if (i <= 0 || (!end && i % RELEASE_RECORDS != 0))
        return;
    filemap_release(t->map, (i - 1) / RELEASE_RECORDS * RELEASE_RECORDS, i);
}

uint16_t trace_address_index(const ip_address &a)
{
    address_table &tab = g_trace.addrs;
    for (int32_t i = 0; i <= tab.count; i++)
        if (std::memcmp(&tab.addr[i], &a, sizeof a) == 0)
            return (uint16_t)i;
    if (tab.count + 1 >= ADDRESS_TABLE_SIZE) {
        load_fail(-1, "wirepaint: too many addresses\n");
    }
    tab.count++;
    tab.addr[tab.count] = a;
    return (uint16_t)tab.count;
}

namespace {

bool is_zero_flow(const flow_entry &f)
{
    static const flow_entry zero{};
    return std::memcmp(&f, &zero, sizeof f) == 0;
}

/* The hash slot where the search for f starts. */
uint32_t flow_home(const flow_entry &f)
{
    uint64_t w[3];
    std::memcpy(w, &f, sizeof w);
    uint64_t h = (w[0] * 0x9e3779b97f4a7c15ull) ^ (w[1] * 0xc2b2ae3d27d4eb4full) ^
                 (w[2] * 0x165667b19e3779f9ull);
    h ^= h >> 29;
    return static_cast<uint32_t>(h) & (FLOW_SLOTS - 1);
}

}  // namespace

uint32_t trace_flow_index(const flow_entry &f)
{
    if (is_zero_flow(f))
        return 0;
    flow_table &tab = g_trace.flows;
    uint32_t k = flow_home(f);
    for (; tab.slot[k] != 0; k = (k + 1) & (FLOW_SLOTS - 1))
        if (std::memcmp(&tab.flow[tab.slot[k]], &f, sizeof f) == 0)
            return tab.slot[k];
    if (tab.count + 1 >= FLOW_TABLE_SIZE) {
        load_fail(-1, "wirepaint: too many flows\n");
    }
    tab.flow[tab.count + 1] = f;
    tab.count++;
    tab.slot[k] = (uint32_t)tab.count;
    return (uint32_t)tab.count;
}

void trace_addresses_clear()
{
    std::memset(&g_trace.addrs, 0, sizeof g_trace.addrs);
    /* Only what is in use: the table's other pages stay untouched. */
    flow_table &tab = g_trace.flows;
    for (int32_t i = 1; i <= tab.count; i++) {
        uint32_t k = flow_home(tab.flow[i]);
        while (tab.slot[k] != (uint32_t)i)
            k = (k + 1) & (FLOW_SLOTS - 1);
        tab.slot[k] = 0;
    }
    std::memset(tab.flow, 0, sizeof(flow_entry) * (size_t)(tab.count + 1));
    tab.count = 0;
}

void trace_state_clear()
{
    trace_free(&g_trace.building);
    trace_free(&g_trace.main);
    trace_free(&g_trace.peer);
    scratch_free(g_trace.lines);
    std::free(g_trace.copybuf);
    trace_addresses_clear();
    std::memset(&g_trace, 0, offsetof(trace_state, flows));
    scratch_trim();
}

float trace_span(const trace_array *t)
{
    if (t->count <= 0)
        return 0.0f;
    return t->rec[t->count - 1].time - t->rec[0].time;
}
