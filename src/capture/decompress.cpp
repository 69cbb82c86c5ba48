/*
 * decompress.cpp --
 *
 *	Telling the compressors apart and decompressing through their
 *	libraries (zlib, libzstd, liblzma, libbz2, liblz4).
 *
 *	Each library sits behind one small decoder with the same step: take
 *	what it can of the input, write what it can of the output, and say
 *	whether a stream just ended whole. One loop drives them all: it reads
 *	the file in large blocks, keeps room for the output in the capture
 *	bytes, and decides how the file ended. The file ends well only right
 *	after a stream ended whole; when the input runs out anywhere else,
 *	the decoder is asked once more to give what it holds, and the file
 *	was cut short. A decoder that refuses its input makes the file
 *	corrupt, whatever was decoded before.
 */

#include "capture/decompress.h"

#include <unistd.h>

#include <bzlib.h>
#include <lz4frame.h>
#include <lzma.h>
#include <zlib.h>
#include <zstd.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <memory>
#include <vector>

namespace {

/* The leading bytes of each compressor's streams. */
struct magic {
    compression c;
    const char *name;
    uint8_t bytes[COMPRESSION_MAGIC_MAX];
    size_t len;
};

const magic magics[] = {
    {COMP_GZIP, "gzip", {0x1f, 0x8b}, 2},
    {COMP_ZSTD, "zstd", {0x28, 0xb5, 0x2f, 0xfd}, 4},
    {COMP_XZ, "xz", {0xfd, 0x37, 0x7a, 0x58, 0x5a, 0x00}, 6},
    {COMP_BZIP2, "bzip2", {0x42, 0x5a, 0x68}, 3},
    {COMP_LZ4, "lz4", {0x04, 0x22, 0x4d, 0x18}, 4},
};

/* Bytes read from the file at a time, and the least room kept free for
 * the output of one step. */
const size_t INPUT_BLOCK = 256 * 1024;
const size_t OUTPUT_ROOM = 1024 * 1024;

/* What one step of a decoder gave. */
enum step_state {
    STEP_MORE,            /* in the middle of a stream */
    STEP_END,             /* a stream ended whole, all of it written */
    STEP_BAD              /* the data is refused; the reason is set */
};

/* One piece of work for a step: the input left and the output room, both
 * advanced by the step. */
struct step_io {
    const uint8_t *in;
    size_t avail;
    uint8_t *out;
    size_t room;
    bool finish;          /* no input follows what is given */
};

/* Moves `io` past `used` bytes of input and `made` of output. */
void advance(step_io *io, size_t used, size_t made)
{
    io->in += used;
    io->avail -= used;
    io->out += made;
    io->room -= made;
}

/* What the libraries count their buffers in. */
unsigned int clamp_uint(size_t n)
{
    return n > UINT_MAX ? UINT_MAX : (unsigned int)n;
}

/* A compressor's decoder. */
class stream_decoder {
public:
    virtual ~stream_decoder() = default;
    /* Whether the library's state could be made. */
    virtual bool ready() const = 0;
    virtual step_state step(step_io *io, std::string *reason) = 0;
    /* Starts over for a stream that follows one that ended whole. */
    virtual bool restart() { return true; }
};

class gzip_decoder : public stream_decoder {
public:
    gzip_decoder() { ok_ = inflateInit2(&z_, 16 + MAX_WBITS) == Z_OK; }
    ~gzip_decoder() override
    {
        if (ok_)
            inflateEnd(&z_);
    }
    bool ready() const override { return ok_; }
    bool restart() override { return inflateReset(&z_) == Z_OK; }

    step_state step(step_io *io, std::string *reason) override
    {
        z_.next_in = const_cast<Bytef *>(io->in);
        z_.avail_in = clamp_uint(io->avail);
        z_.next_out = io->out;
        z_.avail_out = clamp_uint(io->room);
        int rc = inflate(&z_, Z_NO_FLUSH);
        advance(io, (size_t)(z_.next_in - io->in), (size_t)(z_.next_out - io->out));
        if (rc == Z_STREAM_END)
            return STEP_END;
        if (rc == Z_OK || rc == Z_BUF_ERROR)
            return STEP_MORE;
        *reason = z_.msg != nullptr ? z_.msg : zError(rc);
        return STEP_BAD;
    }

private:
    z_stream z_ = {};
    bool ok_;
};

class zstd_decoder : public stream_decoder {
public:
    zstd_decoder() : d_(ZSTD_createDStream()) {}
    ~zstd_decoder() override { ZSTD_freeDStream(d_); }
    bool ready() const override { return d_ != nullptr; }

    step_state step(step_io *io, std::string *reason) override
    {
        ZSTD_inBuffer in = {io->in, io->avail, 0};
        ZSTD_outBuffer out = {io->out, io->room, 0};
        size_t rc = ZSTD_decompressStream(d_, &out, &in);
        if (ZSTD_isError(rc)) {
            *reason = ZSTD_getErrorName(rc);
            return STEP_BAD;
        }
        advance(io, in.pos, out.pos);
        /* 0: a frame is decoded and flushed; the next input starts
         * another one. */
        return rc == 0 ? STEP_END : STEP_MORE;
    }

private:
    ZSTD_DStream *d_;
};

class xz_decoder : public stream_decoder {
public:
    xz_decoder() { ok_ = lzma_stream_decoder(&s_, UINT64_MAX, LZMA_CONCATENATED) == LZMA_OK; }
    ~xz_decoder() override { lzma_end(&s_); }
    bool ready() const override { return ok_; }

    /* With LZMA_CONCATENATED the library itself steps from one stream to
     * the next, and says the last one ended only once told the input is
     * over. */
    step_state step(step_io *io, std::string *reason) override
    {
        s_.next_in = io->in;
        s_.avail_in = io->avail;
        s_.next_out = io->out;
        s_.avail_out = io->room;
        lzma_ret rc = lzma_code(&s_, io->finish ? LZMA_FINISH : LZMA_RUN);
        advance(io, (size_t)(s_.next_in - io->in), (size_t)(s_.next_out - io->out));
        if (rc == LZMA_STREAM_END)
            return STEP_END;
        if (rc == LZMA_OK || rc == LZMA_BUF_ERROR)
            return STEP_MORE;
        *reason = error_text(rc);
        return STEP_BAD;
    }

private:
    static const char *error_text(lzma_ret rc)
    {
        switch (rc) {
        case LZMA_MEM_ERROR:
            return "out of memory";
        case LZMA_FORMAT_ERROR:
            return "file format not recognized";
        case LZMA_OPTIONS_ERROR:
            return "unsupported options";
        case LZMA_DATA_ERROR:
            return "compressed data is corrupt";
        default:
            return "decoder error";
        }
    }

    lzma_stream s_ = LZMA_STREAM_INIT;
    bool ok_;
};

class bzip2_decoder : public stream_decoder {
public:
    bzip2_decoder() { ok_ = BZ2_bzDecompressInit(&s_, 0, 0) == BZ_OK; }
    ~bzip2_decoder() override
    {
        if (ok_)
            BZ2_bzDecompressEnd(&s_);
    }
    bool ready() const override { return ok_; }
    bool restart() override
    {
        BZ2_bzDecompressEnd(&s_);
        s_ = bz_stream{};
        ok_ = BZ2_bzDecompressInit(&s_, 0, 0) == BZ_OK;
        return ok_;
    }

    step_state step(step_io *io, std::string *reason) override
    {
        s_.next_in = reinterpret_cast<char *>(const_cast<uint8_t *>(io->in));
        s_.avail_in = clamp_uint(io->avail);
        s_.next_out = reinterpret_cast<char *>(io->out);
        s_.avail_out = clamp_uint(io->room);
        int rc = BZ2_bzDecompress(&s_);
        advance(io, (size_t)(reinterpret_cast<const uint8_t *>(s_.next_in) - io->in),
                (size_t)(reinterpret_cast<uint8_t *>(s_.next_out) - io->out));
        if (rc == BZ_STREAM_END)
            return STEP_END;
        if (rc == BZ_OK)
            return STEP_MORE;
        *reason = rc == BZ_DATA_ERROR_MAGIC ? "bad stream header"
                  : rc == BZ_MEM_ERROR      ? "out of memory"
                                            : "data integrity error";
        return STEP_BAD;
    }

private:
    bz_stream s_ = {};
    bool ok_;
};

class lz4_decoder : public stream_decoder {
public:
    lz4_decoder()
    {
        if (LZ4F_isError(LZ4F_createDecompressionContext(&d_, LZ4F_VERSION)))
            d_ = nullptr;
    }
    ~lz4_decoder() override { LZ4F_freeDecompressionContext(d_); }
    bool ready() const override { return d_ != nullptr; }

    step_state step(step_io *io, std::string *reason) override
    {
        size_t made = io->room;
        size_t used = io->avail;
        size_t rc = LZ4F_decompress(d_, io->out, &made, io->in, &used, nullptr);
        if (LZ4F_isError(rc)) {
            *reason = LZ4F_getErrorName(rc);
            return STEP_BAD;
        }
        advance(io, used, made);
        /* 0: a frame is decoded and flushed; the context starts the next
         * one by itself. */
        return rc == 0 ? STEP_END : STEP_MORE;
    }

private:
    LZ4F_dctx *d_ = nullptr;
};

std::unique_ptr<stream_decoder> make_decoder(compression c)
{
    switch (c) {
    case COMP_GZIP:
        return std::make_unique<gzip_decoder>();
    case COMP_ZSTD:
        return std::make_unique<zstd_decoder>();
    case COMP_XZ:
        return std::make_unique<xz_decoder>();
    case COMP_BZIP2:
        return std::make_unique<bzip2_decoder>();
    case COMP_LZ4:
        return std::make_unique<lz4_decoder>();
    default:
        return nullptr;
    }
}

/* read(2) that goes on after a signal; -1 with errno on failure. */
ssize_t read_block(int fd, uint8_t *buf, size_t n)
{
    for (;;) {
        ssize_t got = read(fd, buf, n);
        if (got >= 0 || errno != EINTR)
            return got;
    }
}

}  // namespace

compression compression_of(const uint8_t *head, size_t n)
{
    for (const magic &m : magics) {
        if (n >= m.len && std::memcmp(head, m.bytes, m.len) == 0)
            return m.c;
    }
    return COMP_NONE;
}

const char *compression_name(compression c)
{
    for (const magic &m : magics) {
        if (m.c == c)
            return m.name;
    }
    return "";
}

decompress_end decompress_into(int fd, const uint8_t *lead, size_t lead_len, compression c,
                               const decompress_sink &sink, size_t limit, std::string *reason)
{
    std::unique_ptr<stream_decoder> d = make_decoder(c);
    if (d == nullptr || !d->ready()) {
        errno = ENOMEM;
        return DECOMPRESS_FAILED;
    }
    std::vector<uint8_t> block(INPUT_BLOCK);
    step_io io = {lead, lead_len, nullptr, 0, false};
    bool whole = false;   /* the last stream ended whole, nothing since */
    size_t made = 0;      /* bytes written to the sink */
    for (;;) {
        if (io.avail == 0 && !io.finish) {
            ssize_t got = read_block(fd, block.data(), block.size());
            if (got < 0)
                return DECOMPRESS_FAILED;
            io.in = block.data();
            io.avail = (size_t)got;
            io.finish = got == 0;
        }
        if (io.avail == 0 && io.finish && whole)
            return DECOMPRESS_DONE;
        if (whole && io.avail > 0) {
            if (!d->restart()) {
                errno = ENOMEM;
                return DECOMPRESS_FAILED;
            }
            whole = false;
        }
        io.out = sink.room(sink.ctx, &io.room);
        if (io.out == nullptr)
            return DECOMPRESS_FAILED;
        const uint8_t *in_before = io.in;
        uint8_t *out_before = io.out;
        step_state s = d->step(&io, reason);
        size_t wrote = (size_t)(io.out - out_before);
        made += wrote;
        sink.wrote(sink.ctx, wrote);
        if (s == STEP_BAD)
            return DECOMPRESS_CORRUPT;
        bool progress = io.in != in_before || io.out != out_before;
        if (s == STEP_END)
            whole = true;
        else if (progress)
            whole = false;
        if (limit > 0 && made >= limit)
            return DECOMPRESS_DONE;
        if (progress || s == STEP_END)
            continue;
        /* Stuck: with input left and room to write, the decoder refuses
         * to move; at the end of the file, the stream is cut. */
        if (io.finish)
            return DECOMPRESS_CUT;
        if (io.avail > 0) {
            *reason = "the decoder makes no progress";
            return DECOMPRESS_CORRUPT;
        }
    }
}

namespace {

/* The sink of decompress_fd: the capture bytes, with room for a step's
 * output kept free. */
uint8_t *bytes_room(void *ctx, size_t *room)
{
    return capbytes_room(static_cast<capture_bytes *>(ctx), OUTPUT_ROOM, room);
}

void bytes_wrote(void *ctx, size_t n)
{
    static_cast<capture_bytes *>(ctx)->size += n;
}

}  // namespace

decompress_sink capbytes_sink(capture_bytes *out)
{
    return decompress_sink{bytes_room, bytes_wrote, out};
}

decompress_end decompress_fd(int fd, compression c, capture_bytes *out, size_t limit,
                             std::string *reason)
{
    return decompress_into(fd, nullptr, 0, c, capbytes_sink(out), limit, reason);
}
