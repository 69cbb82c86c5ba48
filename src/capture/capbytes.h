/*
 * capbytes.h --
 *
 *	A whole capture file as bytes in memory, and a stdio stream that
 *	reads them. A compressed capture must be decompressed before libpcap
 *	can read it, and libpcap reads only from a stdio stream; the bytes
 *	live in one anonymous memory mapping that grows (mremap) as they are
 *	appended, so a large capture costs no copy when it grows and no
 *	memory for room never written. The stream hands libpcap the bytes as
 *	a file would, and closing it frees the mapping: libpcap's own close
 *	ends the bytes' life, and the reader around it is the one for a
 *	plain file.
 */

#ifndef WIREPAINT_CAPTURE_CAPBYTES_H
#define WIREPAINT_CAPTURE_CAPBYTES_H

#include <cstddef>
#include <cstdint>
#include <cstdio>

/* Capture bytes held in memory. All zero is the empty value. */
struct capture_bytes {
    uint8_t *data;        /* start of the mapping; null while nothing is
                           * mapped */
    size_t size;          /* bytes held, from data on */
    size_t mapped;        /* bytes mapped at data, whole pages, >= size */
};

/*
 * capbytes_room --
 *	Makes room in *b for at least `want` bytes past b->size (mapping or
 *	growing it, at least doubling) and returns the address of the first
 *	free byte, with the bytes free from there in *room. The caller writes
 *	there and adds what it wrote to b->size. Returns null with errno set
 *	when the memory cannot be had; *b is then unchanged. A growth may
 *	move the bytes: earlier addresses into them are stale.
 */
uint8_t *capbytes_room(capture_bytes *b, size_t want, size_t *room);

/* Frees the mapping of *b and empties it. */
void capbytes_free(capture_bytes *b);

/*
 * capbytes_stream --
 *	A read-only stdio stream over the bytes of *b, from offset 0, that
 *	takes them over: *b is emptied, and fclose on the stream frees the
 *	mapping. Seeks within the bytes work. Returns null with errno set
 *	when the stream cannot be made; *b is then unchanged.
 */
std::FILE *capbytes_stream(capture_bytes *b);

#endif
