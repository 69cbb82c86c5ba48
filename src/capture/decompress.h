/*
 * decompress.h --
 *
 *	Compressed capture files: which compressor made a file, told by its
 *	leading bytes (never by its name), and the decompression through the
 *	compressor's own library, into a sink: the ring a load reads as it
 *	goes (capture/stream.h), or capture bytes in memory
 *	(capture/capbytes.h) for the probe's first MiB. gzip, zstd, xz, bzip2 and lz4 (frame
 *	format) are read, each also as several streams one after the other,
 *	as the tools write them when files are joined.
 *
 *	A stream that ends early (a file cut short while it was written or
 *	copied) gives every byte the library could decode up to the cut; a
 *	stream the library refuses (corrupt) gives nothing to read.
 */

#ifndef WIREPAINT_CAPTURE_DECOMPRESS_H
#define WIREPAINT_CAPTURE_DECOMPRESS_H

#include <cstddef>
#include <cstdint>
#include <string>

#include "capture/capbytes.h"

/* The compressors read. */
enum compression { COMP_NONE, COMP_GZIP, COMP_ZSTD, COMP_XZ, COMP_BZIP2, COMP_LZ4 };

/* Leading bytes compression_of needs at most. */
enum { COMPRESSION_MAGIC_MAX = 6 };

/*
 * compression_of --
 *	The compressor whose leading bytes begin the `n` bytes at `head`;
 *	COMP_NONE when none does (a plain capture, or too few bytes).
 */
compression compression_of(const uint8_t *head, size_t n);

/* The compressor's name as its tool is called ("gzip", "zstd", "xz",
 * "bzip2", "lz4"); "" for COMP_NONE. */
const char *compression_name(compression c);

/* How a decompression ended. */
enum decompress_end {
    DECOMPRESS_DONE,      /* every stream whole, or `limit` reached */
    DECOMPRESS_CUT,       /* the file ended inside a stream */
    DECOMPRESS_CORRUPT,   /* the library refused the data */
    DECOMPRESS_FAILED     /* reading the file or getting memory failed
                           * (errno) */
};

/*
 * decompress_fd --
 *	Decompresses the file open at `fd`, from its current offset to its
 *	end, as compressor `c`, appending to *out. With `limit` > 0 it stops
 *	once out->size has reached `limit`. On DECOMPRESS_CORRUPT *reason
 *	holds the library's text; on DECOMPRESS_FAILED errno is set. Whatever
 *	the end, *out keeps what was decoded (the caller frees it). Reads the
 *	file with read(2) and changes no process state.
 */
decompress_end decompress_fd(int fd, compression c, capture_bytes *out, size_t limit,
                             std::string *reason);

/* Where a decompression puts its bytes. */
struct decompress_sink {
    /* Room for the next bytes: their address, and at least one byte free
     * from there in *room; null (errno set) stops the decompression as
     * DECOMPRESS_FAILED. */
    uint8_t *(*room)(void *ctx, size_t *room);
    /* `n` bytes (maybe 0) were written at the address room gave last. */
    void (*wrote)(void *ctx, size_t n);
    void *ctx;
};

/* The sink that appends to *out, keeping room for a step's output free
 * (the sink of decompress_fd). */
decompress_sink capbytes_sink(capture_bytes *out);

/*
 * decompress_into --
 *	decompress_fd into `sink`: the `lead_len` bytes at `lead` (read from
 *	the file already, to tell its compressor) come first, then the file
 *	open at `fd` to its end. With `limit` > 0 it stops once the sink was
 *	given `limit` bytes. Ends as decompress_fd says. Runs on whichever
 *	thread calls it; touches only `fd`, the sink and *reason.
 */
decompress_end decompress_into(int fd, const uint8_t *lead, size_t lead_len, compression c,
                               const decompress_sink &sink, size_t limit, std::string *reason);

#endif
