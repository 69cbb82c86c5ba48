/*
 * stream.h --
 *
 *	Captures that are read as a stream, not walked where they lie: a
 *	compressed capture, decompressed on a second thread into a bounded
 *	ring that libpcap reads as it goes, so that the decompression and the
 *	analysis overlap and the memory does not grow with the capture; and
 *	a pipe (standard input, a named pipe), whose leading bytes had to be
 *	read to tell its form and are handed to libpcap before the rest.
 *
 *	Both are stdio streams (fopencookie) that libpcap reads like a file;
 *	neither can seek. Closing the stream (pcap_close) stops and joins
 *	the decompressing thread and closes the file.
 */

#ifndef WIREPAINT_CAPTURE_STREAM_H
#define WIREPAINT_CAPTURE_STREAM_H

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "capture/classic_record.h"
#include "capture/decompress.h"

/* Bytes of the ring between the decompressing thread and the reader. */
enum { STREAM_RING_BYTES = 4 << 20 };

struct ring_stream;

/*
 * stream_decompressing --
 *	A stream of the decompressed bytes of the file open at `fd` (owned
 *	from now on, closed with the stream), compressed by `c`; the `n`
 *	bytes at `lead` were read from it already. A thread of its own
 *	decompresses into the ring while the stream is read. When the reader
 *	meets the end of a stream cut short, it writes the load's warning
 *	"wirepaint: warning: FILE: NAME data cut short; read up to the cut"
 *	(load_warnf) once, before the end is seen; corrupt data or a failed
 *	read end the stream with a read error (EIO, or the read's errno),
 *	and stream_outcome tells which. Null with errno set when the stream
 *	or the thread cannot be made (`fd` is then closed). *ring names the
 *	stream for stream_outcome while it is open.
 */
std::FILE *stream_decompressing(int fd, compression c, const uint8_t *lead, size_t n,
                                const char *file, ring_stream **ring);

/*
 * stream_outcome --
 *	How the decompression of `ring` has ended so far: DECOMPRESS_DONE
 *	while it still runs or ended well, else its end, with the library's
 *	text in *reason (corrupt) or the errno in *err (failed). Waits for
 *	nothing.
 */
decompress_end stream_outcome(ring_stream *ring, std::string *reason, int *err);

/*
 * stream_drain --
 *	Reads and drops what is left of `ring`'s decompressed bytes until
 *	the decompression has ended, so that stream_outcome can tell how:
 *	a reader that stopped on a record the damaged data made must still
 *	learn that the data was corrupt. Blocks while the thread works.
 */
void stream_drain(ring_stream *ring);

/*
 * stream_walkable --
 *	Whether `ring`'s data begin as a classic pcap file, whose records
 *	stream_next can read in the ring (libpcap then read only the file
 *	header off the stream); *f says how its headers are written.
 */
bool stream_walkable(const ring_stream *ring, classic_format *f);

/*
 * stream_next --
 *	Reads the next record of a walkable ring as libpcap's savefile
 *	reader would with snapshot length `snapshot` (classic_record.h):
 *	returns 1 with *hdr and *data, which stay valid until the next call
 *	(the record is given back to the ring then); 0 at the end; -1 with
 *	libpcap's text in errbuf. At the end of data cut short it writes the
 *	cut warning first, as the stream's reads do; corrupt data end the
 *	walk with a read error, stream_outcome telling why.
 */
int stream_next(ring_stream *ring, int snapshot, struct pcap_pkthdr *hdr, const uint8_t **data,
                char *errbuf);

/*
 * stream_opened --
 *	Tells `ring` that libpcap's open has read what it reads: the bytes
 *	of a pcapng stream are no longer kept for its walk.
 */
void stream_opened(ring_stream *ring);

/* Whether `ring`'s data begin as a pcapng file, whose blocks
 * stream_ng_next can read in the ring. */
bool stream_ng_walkable(const ring_stream *ring);

/*
 * stream_ng_next --
 *	stream_next for a pcapng stream (capture/pcapng_walk.h), after
 *	libpcap's open read its header with link type `linktype`: the same
 *	records and texts as libpcap's reading, the cut warning and read
 *	errors as stream_next's. *data stays valid until the next call.
 */
int stream_ng_next(ring_stream *ring, int linktype, int snapshot, struct pcap_pkthdr *hdr,
                   const uint8_t **data, char *errbuf);

/* The compressor of `ring`'s file. */
compression stream_compression(const ring_stream *ring);

/*
 * stream_prefixed --
 *	A stream of the `n` bytes at `lead` (copied), then of the file open
 *	at `fd` (owned, closed with the stream) from its current place on.
 *	Null with errno set when it cannot be made (`fd` is then closed).
 */
std::FILE *stream_prefixed(int fd, const uint8_t *lead, size_t n);

#endif
