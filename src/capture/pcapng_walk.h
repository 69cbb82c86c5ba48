/*
 * pcapng_walk.h --
 *
 *	The records of a pcapng file read where they lie, in its map
 *	(capture/filemap.h) or in the ring a compressed one is decompressed
 *	into (capture/stream.h), as the classic walk reads a classic file:
 *	section header, interface description, enhanced, simple and
 *	(obsolete) packet blocks, other blocks stepped over, each interface
 *	with its own time resolution (if_tsresol) and offset (if_tsoffset),
 *	several sections, either byte order. The outcome is libpcap's
 *	reading of the file word for word: the same records, headers and
 *	bytes, and for a damaged file the same records before the damage
 *	and the same text after them (a block cut short, a bad length, an
 *	interface that does not fit the first, ...).
 */

#ifndef WIREPAINT_CAPTURE_PCAPNG_WALK_H
#define WIREPAINT_CAPTURE_PCAPNG_WALK_H

#include <cstddef>
#include <cstdint>

#include <pcap/pcap.h>

struct file_map;
struct pcapng_walk;

/* The pcapng magic, the first block type of every pcapng file. */
enum : uint32_t { PCAPNG_SECTION_BLOCK = 0x0A0D0D0A };

/*
 * pcapng_walk_open --
 *	The state of a walk not begun (the map's ng); nullptr when memory
 *	runs out. Freed by pcapng_walk_free.
 */
pcapng_walk *pcapng_walk_open();

/* Frees `w` (null allowed). */
void pcapng_walk_free(pcapng_walk *w);

/*
 * pcapng_next --
 *	filemap_next for a pcapng file: reads the next packet of `m` as
 *	libpcap reads it from a file it opened with link type `linktype` and
 *	snapshot length `snapshot`, in microseconds. Returns 1 with *hdr,
 *	*data (in the mapping) and the place of its captured length set for
 *	filemap_place; 0 at the end; -1 with libpcap's text in errbuf
 *	(PCAP_ERRBUF_SIZE).
 */
int pcapng_next(file_map *m, int linktype, int snapshot, struct pcap_pkthdr *hdr,
                const uint8_t **data, char *errbuf);

/*
 * pcapng_source --
 *	Bytes a walk reads its blocks from when they do not lie in a map
 *	(a stream). `look` gives the bytes from the reader's place on,
 *	contiguous: at least `n` of them when the data hold them, else all
 *	there are (*have); -1 with libpcap's text in errbuf when the data
 *	could not be read. `pass` moves the reader's place `n` bytes on; the
 *	bytes of a block stay valid until the block after it is looked at.
 */
struct pcapng_source {
    int (*look)(void *ctx, size_t n, const uint8_t **p, size_t *have, char *errbuf);
    void (*pass)(void *ctx, size_t n);
    void *ctx;
};

/*
 * pcapng_start_in --
 *	Begins walk `w` on a stream: reads the interface of the `len` bytes
 *	at `head`, those libpcap's open read (the section header up to the
 *	first interface description, which it accepted). 1, or -1 with the
 *	text.
 */
int pcapng_start_in(pcapng_walk *w, const uint8_t *head, size_t len, char *errbuf);

/*
 * pcapng_next_in --
 *	pcapng_next for a walk begun by pcapng_start_in, reading the blocks
 *	after those from `src`. *data lies in the block, valid until the
 *	next call.
 */
int pcapng_next_in(pcapng_walk *w, const pcapng_source &src, int linktype, int snapshot,
                   struct pcap_pkthdr *hdr, const uint8_t **data, char *errbuf);

/*
 * pcapng_walkable --
 *	Whether libpcap's reading of the pcapng file open in `pc`, with
 *	blocks in the other byte order when `swapped`, is one the walk
 *	reproduces: version 1, microseconds, a link type wirepaint reads.
 */
bool pcapng_walkable(pcap_t *pc, bool swapped, int linktype);

/*
 * pcapng_simple_caplen --
 *	The captured length of record i of `m` when it came from a simple
 *	packet block (which has no field for it), else -1.
 */
int64_t pcapng_simple_caplen(const pcapng_walk *w, int32_t i);

/* Whether the record handed last came from a simple packet block (false
 * for a null `w`). */
bool pcapng_handed_simple(const pcapng_walk *w);

/* Notes that record i (being placed) came from the simple packet block
 * handed last; false when memory runs out. */
bool pcapng_note_simple(pcapng_walk *w, int32_t i);

#endif
