/*
 * filemap.cpp --
 *
 *	The capture file mapped read-only and each record's offset in it
 *	(filemap.h): the walk that follows libpcap through the file, the
 *	lookup of a record's bytes, and the giving back of pages read.
 */

#include "capture/filemap.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include "capture/bytes.h"
#include "capture/classic_record.h"
#include "capture/linktype.h"
#include "capture/pcapng_walk.h"
#include "capture/prefault.h"

namespace {

enum { FILE_HEADER = 24, RECORD_HEADER = 16, MAX_HIGH = 64 };

/* The walk gives back the pages behind it each time it has passed this:
 * little of the file is mapped in at any time. */
const size_t RELEASE_STEP = (size_t)1 << 20;

/* The walk asks the populate-ahead helper to map the file in this far
 * ahead of itself, a step at a time, so that it seldom takes a page fault
 * of its own. */
const size_t POPULATE_AHEAD = (size_t)2 << 20;
const size_t POPULATE_STEP = (size_t)512 << 10;

/* The offsets' pages are asked for this many records at a time, one step
 * ahead of the records being placed: at 4 bytes a record, 512 KiB. */
const int32_t WHERE_STEP = 131072;

/* Memory is read this far ahead of the walk, across the page boundaries
 * where the processor's own prefetching stops. */
const size_t PREFETCH_AHEAD = 1024;

const uint32_t MAGIC_US = 0xa1b2c3d4;
const uint32_t MAGIC_NS = 0xa1b23c4d;
const uint32_t NG_ORDER = 0x1a2b3c4d;   /* a pcapng section's byte-order magic */

/* A 32-bit field of a record header, in the file's byte order. */
uint32_t header_word(const file_map *m, size_t at)
{
    return m->swapped ? read_be32(m->base + at) : read_le32(m->base + at);
}

size_t page_size()
{
    static const size_t page = (size_t)sysconf(_SC_PAGESIZE);
    return page;
}

/* Gives back the whole pages of the mapping within [from, to). */
void release_range(const file_map *m, size_t from, size_t to)
{
    size_t page = page_size();
    from = (from + page - 1) / page * page;
    to = to / page * page;
    if (to > from)
        prefault_release(m->base + from, to - from);
}

/* Gives back the pages behind the walk once it has passed RELEASE_STEP
 * bytes since the last time, up to `pos`. */
void release_behind(file_map *m, size_t pos)
{
    if (m->next - m->released < RELEASE_STEP)
        return;
    release_range(m, m->released, pos);
    m->released = pos;
}

/* Asks for the next step of the file to be mapped in once the walk at
 * `pos` is less than POPULATE_AHEAD bytes short of what was asked. */
void populate_ahead(file_map *m, size_t pos)
{
    if (m->asked >= m->len || pos + POPULATE_AHEAD <= m->asked)
        return;
    size_t len = m->len - m->asked < POPULATE_STEP ? m->len - m->asked : POPULATE_STEP;
    prefault_ask_read(m->base + m->asked, len);
    m->asked += len;
}

/* The captured length of the record whose header is at `pos`, as
 * libpcap hands it over: cut to the snapshot length of a handed walk
 * (past it, libpcap steps over the bytes). */
uint32_t captured_length(const file_map *m, size_t pos)
{
    uint32_t caplen = header_word(m, pos + 8);
    return caplen > m->snapshot ? m->snapshot : caplen;
}

/* The file offset of record i's header. */
size_t offset_of(const file_map *m, int32_t i)
{
    size_t high = 0;
    while ((int32_t)high < m->nhigh && m->high_from[high] <= i)
        high++;
    return high << 32 | m->where[i];
}

/* Asks for the pages of the offsets of the next step of records (of the
 * first two at the start), within the room there is. */
void where_ahead(const file_map *m)
{
    int64_t from = m->count == 0 ? 0 : (int64_t)m->count + WHERE_STEP;
    int64_t to = (int64_t)m->count + 2 * WHERE_STEP;
    if (to > m->room)
        to = m->room;
    if (from < to)
        prefault_ask(m->where + from, (size_t)(to - from) * sizeof(uint32_t));
}

/* Keeps `pos` as the offset of record m->count; false without room. */
bool keep(file_map *m, size_t pos)
{
    if (m->count == m->room) {
        int32_t room = m->room < 1024 ? 1024 : m->room + m->room / 2;
        if (room <= m->room)
            return false;
        void *p = std::realloc(m->where, (size_t)room * sizeof(uint32_t));
        if (p == nullptr)
            return false;
        m->where = static_cast<uint32_t *>(p);
        m->room = room;
    }
    while ((size_t)m->nhigh < pos >> 32) {
        if (m->nhigh == MAX_HIGH)
            return false;
        m->high_from[m->nhigh++] = m->count;
    }
    if (m->count % WHERE_STEP == 0)
        where_ahead(m);
    m->where[m->count++] = (uint32_t)pos;
    return true;
}

/*
 * The guard against a file cut short while it is mapped (a capture
 * written again under the same name): a read of a page of the mapping
 * past the file's new end raises SIGBUS. The guard's handler puts a page
 * of zeros there and the read goes on, so a record there reads as a
 * header of length 0, a record without bytes, instead of ending the
 * process. Faults outside the mappings go to the handler that was there
 * before. The mapped ranges, one slot per open map (0: free), and that
 * handler are the guard's state: set by filemap_open and filemap_close,
 * read by the handler.
 */
enum { GUARDED_MAPS = 16 };

struct guard_state {
    std::atomic<uintptr_t> start[GUARDED_MAPS];
    std::atomic<uintptr_t> end[GUARDED_MAPS];
    struct sigaction previous;
    bool installed;
};

guard_state g_guard;

void on_sigbus(int, siginfo_t *info, void *)
{
    uintptr_t at = reinterpret_cast<uintptr_t>(info->si_addr);
    for (int k = 0; k < GUARDED_MAPS; k++) {
        if (at < g_guard.start[k].load() || at >= g_guard.end[k].load())
            continue;
        uintptr_t page = at & ~(uintptr_t)(page_size() - 1);
        if (mmap(reinterpret_cast<void *>(page), page_size(), PROT_READ,
                 MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED, -1, 0) != MAP_FAILED)
            return;
    }
    /* Not ours: the fault comes again under the handler before ours. */
    sigaction(SIGBUS, &g_guard.previous, nullptr);
}

void guard(const file_map *m)
{
    if (!g_guard.installed) {
        struct sigaction sa;
        std::memset(&sa, 0, sizeof sa);
        sa.sa_sigaction = on_sigbus;
        sa.sa_flags = SA_SIGINFO;
        sigemptyset(&sa.sa_mask);
        g_guard.installed = sigaction(SIGBUS, &sa, &g_guard.previous) == 0;
    }
    for (int k = 0; k < GUARDED_MAPS; k++) {
        if (g_guard.end[k].load() != 0)
            continue;
        g_guard.start[k].store(reinterpret_cast<uintptr_t>(m->base));
        g_guard.end[k].store(reinterpret_cast<uintptr_t>(m->base) + m->len);
        return;
    }
}

void unguard(const file_map *m)
{
    for (int k = 0; k < GUARDED_MAPS; k++) {
        if (g_guard.start[k].load() != reinterpret_cast<uintptr_t>(m->base))
            continue;
        g_guard.end[k].store(0);
        g_guard.start[k].store(0);
    }
}

}  // namespace

file_map *filemap_open(const char *file, int linktype, int32_t records)
{
    if (file == nullptr || std::strcmp(file, "-") == 0)
        return nullptr;
    /* Without blocking: a named pipe whose writer has gone would hold the
     * open until another came; only a regular file is mapped. */
    int fd = open(file, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return nullptr;
    struct stat st;
    void *base = MAP_FAILED;
    if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size >= FILE_HEADER)
        base = mmap(nullptr, (size_t)st.st_size, PROT_READ, MAP_PRIVATE, fd, 0);
    close(fd);
    if (base == MAP_FAILED)
        return nullptr;
    const uint8_t *b = static_cast<const uint8_t *>(base);
    uint32_t magic = read_le32(b);
    bool ng = magic == PCAPNG_SECTION_BLOCK;
    bool plain = magic == MAGIC_US || magic == MAGIC_NS || (ng && read_le32(b + 8) == NG_ORDER);
    bool swapped = read_be32(b) == MAGIC_US || read_be32(b) == MAGIC_NS ||
                   (ng && read_be32(b + 8) == NG_ORDER);
    file_map *m = (plain || swapped) ? new (std::nothrow) file_map() : nullptr;
    if (m != nullptr && ng && (m->ng = pcapng_walk_open()) == nullptr) {
        delete m;
        m = nullptr;
    }
    if (m == nullptr) {
        munmap(base, (size_t)st.st_size);
        return nullptr;
    }
    m->base = b;
    m->len = (size_t)st.st_size;
    m->dev = (uint64_t)st.st_dev;
    m->ino = (uint64_t)st.st_ino;
    m->swapped = swapped;
    m->linktype = linktype;
    m->nano = (swapped ? read_be32(b) : magic) == MAGIC_NS;
    m->next = FILE_HEADER;   /* a pcapng walk finds its own start */
    m->snapshot = UINT32_MAX;
    /* Room for what the file can hold: pages not written cost nothing. */
    if (records > 0) {
        m->where = static_cast<uint32_t *>(std::malloc((size_t)records * sizeof(uint32_t)));
        m->room = m->where != nullptr ? records : 0;
    }
    madvise(base, m->len, MADV_SEQUENTIAL);
    guard(m);
    return m;
}

void filemap_close(file_map *m)
{
    if (m == nullptr)
        return;
    unguard(m);
    munmap(const_cast<uint8_t *>(m->base), m->len);
    std::free(m->where);
    pcapng_walk_free(m->ng);
    delete m;
}

bool filemap_can_hand(const file_map *m, pcap_t *pc)
{
    if (m == nullptr || pc == nullptr || m->next != FILE_HEADER || m->count != 0)
        return false;
    std::FILE *f = pcap_file(pc);
    struct stat st;
    if (f == nullptr || fstat(fileno(f), &st) != 0 || (uint64_t)st.st_dev != m->dev ||
        (uint64_t)st.st_ino != m->ino)
        return false;
    if (m->ng == nullptr)
        return classic_walkable(pc, classic_format{m->swapped, m->nano}, m->linktype);
    return pcapng_walkable(pc, m->swapped, m->linktype);
}

int filemap_next(file_map *m, int snapshot, struct pcap_pkthdr *hdr, const uint8_t **data,
                 char *errbuf)
{
    if (m->ng != nullptr)
        return pcapng_next(m, m->linktype, snapshot, hdr, data, errbuf);
    m->handing = true;
    size_t pos = m->next;
    if (pos >= m->len)
        return 0;
    if (m->len - pos < RECORD_HEADER) {
        classic_cut_header(m->len - pos, errbuf);
        return -1;
    }
    classic_header(m->base + pos, classic_format{m->swapped, m->nano}, hdr);
    m->snapshot = (uint32_t)snapshot;
    if (classic_bad_caplen(hdr, snapshot, errbuf))
        return -1;
    size_t at = pos + RECORD_HEADER;
    size_t file_caplen = hdr->caplen;
    if (classic_cut(hdr, snapshot, m->len - at, errbuf))
        return -1;
    *data = m->base + at;
    m->handed = pos;
    m->next = at + file_caplen;
    if (m->next + PREFETCH_AHEAD < m->len)
        __builtin_prefetch(m->base + m->next + PREFETCH_AHEAD);
    filemap_walked(m, pos);
    return 1;
}

void filemap_walked(file_map *m, size_t pos)
{
    release_behind(m, pos);
    populate_ahead(m, pos);
}

bool filemap_place(file_map *m, const struct pcap_pkthdr *hdr, const uint8_t *frame, uint32_t n)
{
    if (m->handing) {
        size_t pos = m->handed;
        if (pcapng_handed_simple(m->ng))
            return pcapng_note_simple(m->ng, m->count) && keep(m, pos);
        return captured_length(m, pos) == hdr->caplen && keep(m, pos);
    }
    /* libpcap reads, the map follows: only through classic records. */
    if (m->ng != nullptr)
        return false;
    size_t pos = m->next;
    while (pos + RECORD_HEADER <= m->len) {
        size_t data = pos + RECORD_HEADER;
        uint32_t caplen = header_word(m, pos + 8);
        if (caplen > m->len - data)
            return false;
        if (caplen == hdr->caplen && header_word(m, pos + 12) == hdr->len && n <= caplen &&
            std::memcmp(m->base + data, frame, n) == 0) {
            if (!keep(m, pos))
                return false;
            m->next = data + caplen;
            release_behind(m, pos);
            return true;
        }
        pos = data + caplen;
    }
    return false;
}

const uint8_t *filemap_bytes(const file_map *m, int32_t i, int32_t copy_len, int32_t *cap)
{
    *cap = 0;
    if (m == nullptr || i < 0 || i >= m->count)
        return nullptr;
    size_t pos = offset_of(m, i);
    int64_t simple = pcapng_simple_caplen(m->ng, i);
    uint32_t caplen = simple >= 0 ? (uint32_t)simple : captured_length(m, pos);
    const uint8_t *frame = m->base + pos + RECORD_HEADER;
    uint32_t link = 0;
    if (link_ip_offset(m->linktype, frame, caplen, &link) != LINK_IP)
        return nullptr;
    uint32_t avail = caplen - link;
    *cap = copy_len > 0 && avail > (uint32_t)copy_len ? copy_len : (int32_t)avail;
    return frame + link;
}

void filemap_release(const file_map *m, int32_t from, int32_t to)
{
    if (m == nullptr || from >= to || from < 0 || from >= m->count)
        return;
    size_t end = to >= m->count ? m->len : offset_of(m, to);
    release_range(m, offset_of(m, from), end);
}
