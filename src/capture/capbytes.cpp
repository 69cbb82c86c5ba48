/*
 * capbytes.cpp --
 *
 *	Capture bytes in an anonymous mapping, and the stream over them.
 *
 *	The stream is a glibc cookie stream (fopencookie) rather than
 *	fmemopen, because it must own the bytes: libpcap closes the stream it
 *	was given, and the cookie's close is where the mapping goes.
 */

#include "capture/capbytes.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <new>

namespace {

size_t page_size()
{
    long n = sysconf(_SC_PAGESIZE);
    return n > 0 ? (size_t)n : 4096;
}

/* `n` rounded up to whole pages; 0 when that overflows. */
size_t whole_pages(size_t n)
{
    size_t page = page_size();
    if (n > SIZE_MAX - page)
        return 0;
    return (n + page - 1) / page * page;
}

/* The state of one stream: the bytes it owns and its position. */
struct byte_cookie {
    capture_bytes bytes;
    size_t pos;           /* next byte to read, <= bytes.size */
};

ssize_t cookie_read(void *c, char *buf, size_t n)
{
    byte_cookie *k = static_cast<byte_cookie *>(c);
    size_t left = k->bytes.size - k->pos;
    if (n > left)
        n = left;
    if (n > 0)
        std::memcpy(buf, k->bytes.data + k->pos, n);
    k->pos += n;
    return (ssize_t)n;
}

int cookie_seek(void *c, off64_t *offset, int whence)
{
    byte_cookie *k = static_cast<byte_cookie *>(c);
    off64_t base = whence == SEEK_SET ? 0
                   : whence == SEEK_CUR ? (off64_t)k->pos
                                        : (off64_t)k->bytes.size;
    off64_t to = base + *offset;
    if (to < 0 || (uint64_t)to > (uint64_t)k->bytes.size) {
        errno = EINVAL;
        return -1;
    }
    k->pos = (size_t)to;
    *offset = to;
    return 0;
}

int cookie_close(void *c)
{
    byte_cookie *k = static_cast<byte_cookie *>(c);
    capbytes_free(&k->bytes);
    delete k;
    return 0;
}

}  // namespace

uint8_t *capbytes_room(capture_bytes *b, size_t want, size_t *room)
{
    if (b->mapped - b->size < want || b->data == nullptr) {
        size_t need = b->size + want;
        size_t grown = b->mapped > SIZE_MAX / 2 ? SIZE_MAX : b->mapped * 2;
        size_t len = whole_pages(need > grown ? need : grown);
        if (need < b->size || len == 0) {
            errno = ENOMEM;
            return nullptr;
        }
        void *p = b->data == nullptr
                      ? mmap(nullptr, len, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0)
                      : mremap(b->data, b->mapped, len, MREMAP_MAYMOVE);
        if (p == MAP_FAILED)
            return nullptr;
        b->data = static_cast<uint8_t *>(p);
        b->mapped = len;
    }
    *room = b->mapped - b->size;
    return b->data + b->size;
}

void capbytes_free(capture_bytes *b)
{
    if (b->data != nullptr)
        munmap(b->data, b->mapped);
    *b = capture_bytes{};
}

std::FILE *capbytes_stream(capture_bytes *b)
{
    byte_cookie *k = new (std::nothrow) byte_cookie{*b, 0};
    if (k == nullptr) {
        errno = ENOMEM;
        return nullptr;
    }
    cookie_io_functions_t io = {cookie_read, nullptr, cookie_seek, cookie_close};
    std::FILE *f = fopencookie(k, "rb", io);
    if (f == nullptr) {
        int err = errno;
        delete k;
        errno = err;
        return nullptr;
    }
    *b = capture_bytes{};
    return f;
}
