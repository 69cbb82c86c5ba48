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

#include "capture/loadfail.h"

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
    hold.lock();
    r->tail += n;
    if (r->writer_waits)
        r->moved.notify_all();
    return (ssize_t)n;
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
