/*
 * stream.cpp --
 *
 *	The streamed captures of stream.h: the ring between the thread that
 *	decompresses and libpcap's reads, and the pipe with its leading
 *	bytes put back in front.
 *
 *	The ring holds STREAM_RING_BYTES. The thread writes at `head` what
 *	the decoder gives (decompress_into, with the ring as its sink), and
 *	waits while the ring is full; the reader copies from `tail` what was
 *	written and waits while it is empty. Both counters only grow; the
 *	bytes between them belong to the reader, the rest of the ring to
 *	the thread, so the copies run outside the lock. Each side wakes the
 *	other only when it waits.
 */

#include "capture/stream.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>
#include <vector>

#include "capture/bytes.h"
#include "capture/classic_record.h"
#include "capture/loadfail.h"
#include "capture/pcapng_walk.h"

/* The shared state of one decompressing stream; owned by its stdio
 * stream (freed by its close). */
struct ring_stream {
    int fd;                         /* the compressed file; closed at the end */
    compression c;
    std::vector<uint8_t> lead;      /* its bytes read before the thread began */
    std::string file;               /* its name, for the cut warning */
    uint8_t *buf;                   /* STREAM_RING_BYTES of ring */
    std::mutex lock;                /* guards what follows */
    std::condition_variable moved;  /* head or tail moved, or the end came */
    uint64_t head = 0;              /* bytes the thread has written */
    uint64_t tail = 0;              /* bytes the reader has taken */
    bool reader_waits = false;
    bool writer_waits = false;
    bool ended = false;             /* the thread's decompression returned */
    bool closing = false;           /* the reader is gone: the thread stops */
    decompress_end end = DECOMPRESS_DONE;
    std::string reason;             /* the library's text when corrupt */
    int err = 0;                    /* errno when failed */
    bool warned = false;            /* the cut warning was written */
    std::thread worker;
    /* The walk of a classic capture's records in the ring (stream_next):
     * set before libpcap reads its header, then the reader's alone. */
    bool walkable = false;          /* the data begin as a classic file */
    classic_format format = {false, false};
    size_t held = 0;                /* bytes of the record handed last */
    std::vector<uint8_t> spill;     /* a record across the ring's end */
    bool walking = false;           /* the walk has begun: what follows is
                                     * the walk's view, tail is given back
                                     * in steps (ring_take) */
    uint64_t walk_tail = 0;         /* bytes the walk has taken */
    uint64_t seen_head = 0;         /* head when the walk last looked */
    /* The walk of a pcapng capture's blocks in the ring (stream_ng_next). */
    pcapng_walk *ng = nullptr;      /* its state when the data begin as
                                     * pcapng, owned; null: not walked */
    bool recording = false;         /* libpcap's open reads: kept in `given` */
    std::vector<uint8_t> given;     /* the bytes libpcap's open read, which
                                     * the walk reads its interface from */
    size_t pre_taken = 0;           /* bytes of the block looked at last that
                                     * a large look took from the ring */
};

namespace {

/* The thread asks for room only when this much is free (or the free
 * part up to the ring's end, when less is left there): the decoders
 * then write in large steps. */
const size_t LEAST_ROOM = 64 << 10;

uint8_t *ring_room(void *ctx, size_t *room)
{
    ring_stream *r = static_cast<ring_stream *>(ctx);
    std::unique_lock<std::mutex> hold(r->lock);
    for (;;) {
        if (r->closing) {
            errno = ECANCELED;
            return nullptr;
        }
        size_t at = (size_t)(r->head % STREAM_RING_BYTES);
        size_t free_bytes = STREAM_RING_BYTES - (size_t)(r->head - r->tail);
        size_t to_end = STREAM_RING_BYTES - at;
        size_t contiguous = std::min(free_bytes, to_end);
        if (contiguous >= std::min(LEAST_ROOM, to_end)) {
            *room = contiguous;
            return r->buf + at;
        }
        r->writer_waits = true;
        r->moved.wait(hold);
        r->writer_waits = false;
    }
}

void ring_wrote(void *ctx, size_t n)
{
    if (n == 0)
        return;
    ring_stream *r = static_cast<ring_stream *>(ctx);
    std::lock_guard<std::mutex> hold(r->lock);
    r->head += n;
    if (r->reader_waits)
        r->moved.notify_all();
}

void run_decompression(ring_stream *r)
{
    decompress_sink sink = {ring_room, ring_wrote, r};
    std::string reason;
    decompress_end end = decompress_into(r->fd, r->lead.data(), r->lead.size(), r->c, sink, 0,
                                         &reason);
    int err = errno;
    std::lock_guard<std::mutex> hold(r->lock);
    r->ended = true;
    r->end = end;
    r->reason = reason;
    r->err = err;
    r->moved.notify_all();
}

void close_fd(int fd)
{
    if (fd >= 0 && fd != STDIN_FILENO)
        close(fd);
}

/* The end of the decompressed bytes, met by the reader: 0 for a whole
 * or cut stream (the cut warned once), -1 with errno for a bad one. */
ssize_t ring_end(ring_stream *r)
{
    if (r->end == DECOMPRESS_CUT && !r->warned) {
        r->warned = true;
        load_warnf("wirepaint: warning: %s: %s data cut short; read up to the cut\n",
                   r->file.c_str(), compression_name(r->c));
    }
    if (r->end == DECOMPRESS_CORRUPT) {
        errno = EIO;
        return -1;
    }
    if (r->end == DECOMPRESS_FAILED) {
        errno = r->err != 0 ? r->err : EIO;
        return -1;
    }
    return 0;
}

ssize_t ring_read(void *cookie, char *to, size_t want)
{
    ring_stream *r = static_cast<ring_stream *>(cookie);
    std::unique_lock<std::mutex> hold(r->lock);
    while (r->head == r->tail && !r->ended) {
        r->reader_waits = true;
        r->moved.wait(hold);
        r->reader_waits = false;
    }
    if (r->head == r->tail)
        return ring_end(r);
    size_t at = (size_t)(r->tail % STREAM_RING_BYTES);
    size_t n = std::min({want, (size_t)(r->head - r->tail), (size_t)STREAM_RING_BYTES - at});
    hold.unlock();
    std::memcpy(to, r->buf + at, n);
    if (r->recording)
        r->given.insert(r->given.end(), to, to + n);
    hold.lock();
    r->tail += n;
    /* The thread waits for a step's room: waking it for less is wasted. */
    if (r->writer_waits && STREAM_RING_BYTES - (r->head - r->tail) >= LEAST_ROOM)
        r->moved.notify_all();
    return (ssize_t)n;
}

/* The walk gives what it has taken back to the thread in steps of this
 * much, and wakes the thread only then: a lock and a wake-up per record
 * would cost more than the record. */
const size_t GIVE_BACK_STEP = 256 << 10;

/* Gives the walk's taken bytes back; the lock held. */
void give_back(ring_stream *r)
{
    r->tail = r->walk_tail;
    if (r->writer_waits)
        r->moved.notify_all();
}

/* Waits until `n` bytes past what the walk has taken are in the ring, or
 * the decompression has ended; the bytes there then. Locks only when
 * the head it saw last is not far enough. */
size_t ring_ready(ring_stream *r, size_t n)
{
    if (r->seen_head - r->walk_tail >= n)
        return (size_t)(r->seen_head - r->walk_tail);
    std::unique_lock<std::mutex> hold(r->lock);
    give_back(r);
    while (r->head - r->walk_tail < n && !r->ended) {
        r->reader_waits = true;
        r->moved.wait(hold);
        r->reader_waits = false;
    }
    r->seen_head = r->head;
    return (size_t)(r->seen_head - r->walk_tail);
}

/* The `n` bytes `off` past what the walk has taken (in the ring
 * already), contiguous: where they lie, or copied to the spill when they
 * wrap. */
const uint8_t *ring_bytes(ring_stream *r, size_t off, size_t n)
{
    size_t at = (size_t)((r->walk_tail + off) % STREAM_RING_BYTES);
    if (at + n <= STREAM_RING_BYTES)
        return r->buf + at;
    r->spill.resize(n);
    size_t first = STREAM_RING_BYTES - at;
    std::memcpy(r->spill.data(), r->buf + at, first);
    std::memcpy(r->spill.data() + first, r->buf, n - first);
    return r->spill.data();
}

/* The walk takes `n` bytes; they go back to the thread a step at a time. */
void ring_take(ring_stream *r, size_t n)
{
    r->walk_tail += n;
    if (r->walk_tail - r->tail < GIVE_BACK_STEP)
        return;
    std::lock_guard<std::mutex> hold(r->lock);
    give_back(r);
}

/* Begins the walk where the stream's reads (libpcap's of the header)
 * left the ring. */
void begin_walk(ring_stream *r)
{
    std::lock_guard<std::mutex> hold(r->lock);
    r->walking = true;
    r->walk_tail = r->tail;
    r->seen_head = r->head;
}

/* Waits for the first bytes of the data and, when they open a classic
 * file, marks the stream for the walk. */
void learn_format(ring_stream *r)
{
    uint8_t head[4];
    {
        std::unique_lock<std::mutex> hold(r->lock);
        while (r->head < 4 && !r->ended) {
            r->reader_waits = true;
            r->moved.wait(hold);
            r->reader_waits = false;
        }
        if (r->head < 4)
            return;
        std::memcpy(head, r->buf, 4);
    }
    uint32_t le = read_le32(head), be = read_be32(head);
    if (le == PCAPNG_SECTION_BLOCK) {
        r->ng = pcapng_walk_open();
        r->recording = r->ng != nullptr;
        return;
    }
    r->walkable = le == 0xa1b2c3d4 || le == 0xa1b23c4d || be == 0xa1b2c3d4 || be == 0xa1b23c4d;
    r->format.swapped = be == 0xa1b2c3d4 || be == 0xa1b23c4d;
    r->format.nano = le == 0xa1b23c4d || be == 0xa1b23c4d;
}

/* A look at more than this much is not waited for in the ring, which
 * may be too small for it: the block is gathered in the spill. */
const size_t LARGE_LOOK = STREAM_RING_BYTES / 2;

/* The error of a read that failed: libpcap's text. */
int read_failed(char *errbuf)
{
    std::snprintf(errbuf, PCAP_ERRBUF_SIZE, "error reading dump file: %s", std::strerror(errno));
    return -1;
}

/* A large look: the `n` bytes past the walk's place gathered in the
 * spill, taken from the ring as they come (recorded in pre_taken, so
 * that ng_pass does not take them again). */
int large_look(ring_stream *r, size_t n, const uint8_t **p, size_t *have, char *errbuf)
{
    r->spill.resize(n);
    size_t got = 0;
    while (got < n) {
        size_t there = ring_ready(r, 1);
        if (there == 0) {
            if (ring_end(r) < 0)
                return read_failed(errbuf);
            break;
        }
        size_t k = std::min(there, n - got);
        size_t at = (size_t)(r->walk_tail % STREAM_RING_BYTES);
        size_t first = std::min(k, (size_t)STREAM_RING_BYTES - at);
        std::memcpy(r->spill.data() + got, r->buf + at, first);
        std::memcpy(r->spill.data() + got + first, r->buf, k - first);
        ring_take(r, k);
        got += k;
    }
    r->pre_taken = got;
    *p = r->spill.data();
    *have = got;
    return 0;
}

/* pcapng_source's look on the ring. */
int ng_look(void *ctx, size_t n, const uint8_t **p, size_t *have, char *errbuf)
{
    ring_stream *r = static_cast<ring_stream *>(ctx);
    if (n > LARGE_LOOK)
        return large_look(r, n, p, have, errbuf);
    size_t there = ring_ready(r, n);
    if (there < n && ring_end(r) < 0)
        return read_failed(errbuf);
    *have = std::min(there, n);
    *p = *have > 0 ? ring_bytes(r, 0, *have) : r->buf;
    return 0;
}

/* pcapng_source's pass on the ring. */
void ng_pass(void *ctx, size_t n)
{
    ring_stream *r = static_cast<ring_stream *>(ctx);
    ring_take(r, n - std::min(n, r->pre_taken));
    r->pre_taken = 0;
}

int ring_close(void *cookie)
{
    ring_stream *r = static_cast<ring_stream *>(cookie);
    {
        std::lock_guard<std::mutex> hold(r->lock);
        r->closing = true;
        r->moved.notify_all();
    }
    if (r->worker.joinable())
        r->worker.join();
    close_fd(r->fd);
    std::free(r->buf);
    pcapng_walk_free(r->ng);
    delete r;
    return 0;
}

/* A stream over a pipe whose leading bytes were read already. */
struct prefixed {
    int fd;
    std::vector<uint8_t> lead;
    size_t given;   /* bytes of lead handed over */
};

ssize_t prefixed_read(void *cookie, char *to, size_t want)
{
    prefixed *p = static_cast<prefixed *>(cookie);
    if (p->given < p->lead.size()) {
        size_t n = std::min(want, p->lead.size() - p->given);
        std::memcpy(to, p->lead.data() + p->given, n);
        p->given += n;
        return (ssize_t)n;
    }
    for (;;) {
        ssize_t got = read(p->fd, to, want);
        if (got >= 0 || errno != EINTR)
            return got;
    }
}

int prefixed_close(void *cookie)
{
    prefixed *p = static_cast<prefixed *>(cookie);
    close_fd(p->fd);
    delete p;
    return 0;
}

}  // namespace

std::FILE *stream_decompressing(int fd, compression c, const uint8_t *lead, size_t n,
                                const char *file, ring_stream **ring)
{
    ring_stream *r = new (std::nothrow) ring_stream();
    uint8_t *buf = static_cast<uint8_t *>(std::malloc(STREAM_RING_BYTES));
    if (r == nullptr || buf == nullptr) {
        delete r;
        std::free(buf);
        close_fd(fd);
        errno = ENOMEM;
        return nullptr;
    }
    r->fd = fd;
    r->c = c;
    r->lead.assign(lead, lead + n);
    r->file = file;
    r->buf = buf;
    cookie_io_functions_t io = {ring_read, nullptr, nullptr, ring_close};
    std::FILE *f = fopencookie(r, "rb", io);
    if (f == nullptr) {
        int err = errno;
        ring_close(r);
        errno = err;
        return nullptr;
    }
    try {
        r->worker = std::thread(run_decompression, r);
    } catch (const std::system_error &e) {
        std::fclose(f);
        errno = e.code().value();
        return nullptr;
    }
    /* A classic file's records are walked in the ring (stream_next):
     * libpcap, reading its header, must take no byte more. */
    learn_format(r);
    if (r->walkable || r->ng != nullptr)
        std::setvbuf(f, nullptr, _IONBF, 0);
    *ring = r;
    return f;
}

decompress_end stream_outcome(ring_stream *ring, std::string *reason, int *err)
{
    std::lock_guard<std::mutex> hold(ring->lock);
    if (!ring->ended)
        return DECOMPRESS_DONE;
    *reason = ring->reason;
    *err = ring->err;
    return ring->end;
}

void stream_drain(ring_stream *ring)
{
    std::unique_lock<std::mutex> hold(ring->lock);
    for (;;) {
        ring->tail = ring->head;
        if (ring->writer_waits)
            ring->moved.notify_all();
        if (ring->ended)
            return;
        ring->reader_waits = true;
        ring->moved.wait(hold);
        ring->reader_waits = false;
    }
}

void stream_opened(ring_stream *ring)
{
    ring->recording = false;
}

bool stream_ng_walkable(const ring_stream *ring)
{
    return ring->ng != nullptr;
}

int stream_ng_next(ring_stream *r, int linktype, int snapshot, struct pcap_pkthdr *hdr,
                   const uint8_t **data, char *errbuf)
{
    if (!r->walking) {
        begin_walk(r);
        if (pcapng_start_in(r->ng, r->given.data(), r->given.size(), errbuf) < 0)
            return -1;
        std::vector<uint8_t>().swap(r->given);
    }
    pcapng_source src = {ng_look, ng_pass, r};
    return pcapng_next_in(r->ng, src, linktype, snapshot, hdr, data, errbuf);
}

compression stream_compression(const ring_stream *ring)
{
    return ring->c;
}

std::FILE *stream_prefixed(int fd, const uint8_t *lead, size_t n)
{
    prefixed *p = new (std::nothrow) prefixed{fd, std::vector<uint8_t>(lead, lead + n), 0};
    if (p == nullptr) {
        close_fd(fd);
        errno = ENOMEM;
        return nullptr;
    }
    cookie_io_functions_t io = {prefixed_read, nullptr, nullptr, prefixed_close};
    std::FILE *f = fopencookie(p, "rb", io);
    if (f == nullptr) {
        int err = errno;
        prefixed_close(p);
        errno = err;
        return nullptr;
    }
    return f;
}

bool stream_walkable(const ring_stream *ring, classic_format *f)
{
    *f = ring->format;
    return ring->walkable;
}

int stream_next(ring_stream *r, int snapshot, struct pcap_pkthdr *hdr, const uint8_t **data,
                char *errbuf)
{
    if (!r->walking)
        begin_walk(r);
    if (r->held > 0) {
        ring_take(r, r->held);
        r->held = 0;
    }
    size_t have = ring_ready(r, CLASSIC_RECORD_HEADER);
    if (have < CLASSIC_RECORD_HEADER) {
        if (ring_end(r) < 0) {
            std::snprintf(errbuf, PCAP_ERRBUF_SIZE, "error reading dump file: %s", std::strerror(errno));
            return -1;
        }
        if (have == 0)
            return 0;
        classic_cut_header(have, errbuf);
        return -1;
    }
    classic_header(ring_bytes(r, 0, CLASSIC_RECORD_HEADER), r->format, hdr);
    if (classic_bad_caplen(hdr, snapshot, errbuf))
        return -1;
    size_t span = CLASSIC_RECORD_HEADER + (size_t)hdr->caplen;
    have = ring_ready(r, span);
    if (have < span && ring_end(r) < 0) {
        std::snprintf(errbuf, PCAP_ERRBUF_SIZE, "error reading dump file: %s", std::strerror(errno));
        return -1;
    }
    if (classic_cut(hdr, snapshot, have - CLASSIC_RECORD_HEADER, errbuf))
        return -1;
    *data = ring_bytes(r, CLASSIC_RECORD_HEADER, hdr->caplen);
    r->held = span;
    return 1;
}
