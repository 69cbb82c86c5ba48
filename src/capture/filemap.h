/*
 * filemap.h --
 *
 *	The packet bytes of a trace read where they lie: the capture file,
 *	mapped read-only, and for each record the file offset of its packet,
 *	instead of a copy of its bytes. A record then costs four bytes of
 *	packet storage rather than a copy length's, and reading a file writes
 *	no copy at all.
 *
 *	A plain pcap file of a link type whose bytes libpcap hands over as
 *	they lie is read from the map itself (filemap_next, the mapped form
 *	of libpcap's record reading, with its checks and its texts word for
 *	word): no byte of it is copied, and a record's place is the one
 *	handed over. Any other file libpcap reads, with all its checks,
 *	filters and messages, and the map follows it: for each accepted
 *	packet the map walks
 *	the file's record headers from where the last one ended to the one
 *	libpcap handed over, and takes it only when its bytes are the bytes
 *	libpcap gave: what a record reads through the map is then what its
 *	copy would have held, up to its count of packet-data bytes. A file
 *	the walk cannot follow (pcapng, a pipe, a file changed while read)
 *	gives up its map, and its records get copies as before
 *	(trace_new_copy).
 *
 *	A file cut short while it is mapped (written again under its name)
 *	does not end the process when a record past its new end is read: the
 *	pages past the end read as zeros, and such a record has no bytes.
 *
 *	Pages of the mapping count in the process's memory only while they
 *	are mapped in: the walk and the passes that read every record's
 *	bytes give back the pages behind them (filemap_release), which the
 *	kernel keeps in its file cache and maps in again when asked.
 */

#ifndef WIREPAINT_CAPTURE_FILEMAP_H
#define WIREPAINT_CAPTURE_FILEMAP_H

#include <cstddef>
#include <cstdint>

#include <pcap/pcap.h>

/*
 * The map of one trace's capture file. Owned by the trace (trace_array
 * .map), freed by trace_free through filemap_close.
 */
struct file_map {
    const uint8_t *base;   /* the file, mapped read-only; set by filemap_open */
    size_t len;            /* bytes of the file */
    uint64_t dev, ino;     /* the file's device and inode numbers */
    bool swapped;          /* record headers in the other byte order */
    int linktype;          /* libpcap's link type of the file */
    bool nano;             /* time stamps in nanoseconds (the magic) */
    bool handing;          /* the records are read from the map itself
                            * (filemap_next), not by libpcap; set by
                            * filemap_next */
    size_t handed;         /* while handing: offset of the record header
                            * filemap_next handed over last */
    uint32_t snapshot;     /* while handing: the snapshot length a record's
                            * captured length is cut to (libpcap's); set by
                            * filemap_next, UINT32_MAX before */
    size_t next;           /* walk: offset of the next record header to look at */
    size_t released;       /* walk: bytes before this were given back */
    size_t asked;          /* walk: bytes before this were asked to be
                            * mapped in ahead (capture/prefault.h) */
    uint32_t *where;       /* per record: low 32 bits of its record
                            * header's offset (malloc'ed; room `room`) */
    int32_t room;          /* records `where` has room for */
    int32_t count;         /* records placed */
    int32_t high_from[64]; /* high_from[k]: first record whose offset is
                            * at least (k + 1) << 32 */
    int32_t nhigh;         /* entries of high_from in use */
    struct pcapng_walk *ng;/* a pcapng file's walk (capture/pcapng_walk.h),
                            * owned; null for a classic file */
};

/*
 * filemap_open --
 *	Maps `file` for the walk when it is a regular classic-pcap file
 *	(either byte order, micro- or nanosecond stamps) or pcapng file of
 *	link type `linktype`, with room for about `records` records. nullptr,
 *	with no side effects, when it is not or the memory cannot be had:
 *	its records then get copies.
 */
file_map *filemap_open(const char *file, int linktype, int32_t records);

/* Unmaps and frees `m` (null allowed). */
void filemap_close(file_map *m);

/*
 * filemap_place --
 *	Places record m->count: while the map hands the records over, the
 *	record handed last, its captured length cut to the snapshot length
 *	as libpcap cuts it (filemap_bytes gives that many bytes of it);
 *	false then only when its offset cannot be kept (no memory), and the
 *	caller must not give up the map, which the walk still reads and
 *	whose bytes `frame` points into. Otherwise finds the packet libpcap handed over (its
 *	header `hdr`, its first `n` captured bytes `frame`) in the file,
 *	from where the last placed one ended, and keeps its offset. False,
 *	placing nothing, when the walk reaches the end without it or cannot
 *	keep the offset; the caller then gives up the map (filemap_to_copies).
 *	Gives back the pages the walk has passed, a few megabytes at a time.
 */
bool filemap_place(file_map *m, const struct pcap_pkthdr *hdr, const uint8_t *frame, uint32_t n);

/*
 * filemap_can_hand --
 *	Whether the records of `m`'s file, opened by libpcap as `pc`, can be
 *	read from the map (filemap_next) with exactly libpcap's outcome: a
 *	pcapng file, or a classic file with a version 2.4 (or later minor)
 *	header, in the byte order libpcap found,
 *	microsecond stamps asked for, and a link type wirepaint reads whose
 *	bytes libpcap does not rewrite (it swaps fields of cooked headers of
 *	a file in the other byte order); and the file libpcap reads is the
 *	one mapped (not another put under its name in between).
 */
bool filemap_can_hand(const file_map *m, pcap_t *pc);

/*
 * filemap_next --
 *	Reads the record at m->next as libpcap's savefile reader would with
 *	(a pcapng file: its next packet, capture/pcapng_walk.h)
 *	snapshot length `snapshot`: the header in host order, the stamp of a
 *	nanosecond file in microseconds, a captured length above `snapshot`
 *	cut to it (the rest stepped over). Returns 1 with *hdr, *data (in the
 *	mapping) and m->handed set and m->next past the record; 0 at the end
 *	of the file; -1 with libpcap's text (a record header or data cut
 *	short, an impossible captured length) in errbuf (PCAP_ERRBUF_SIZE).
 *	Gives back the pages behind the walk, a few megabytes at a time.
 */
int filemap_next(file_map *m, int snapshot, struct pcap_pkthdr *hdr, const uint8_t **data,
                 char *errbuf);

/*
 * filemap_walked --
 *	For a walk that has handed over the record whose data begin at
 *	`pos`: gives back the pages behind it and asks for those ahead, a
 *	few megabytes at a time. A hint: changes no byte.
 */
void filemap_walked(file_map *m, size_t pos);

/*
 * filemap_bytes --
 *	Record i's packet from its IP header on, and in *cap the count of its
 *	bytes there that are packet data (of its captured length as libpcap
 *	gave it: cut to the snapshot length of a handed walk), at most
 *	`copy_len`; nullptr and 0 for an index not placed. Reads the record's
 *	header in the file; never a byte past the record's captured bytes.
 */
const uint8_t *filemap_bytes(const file_map *m, int32_t i, int32_t copy_len, int32_t *cap);

/*
 * filemap_release --
 *	Gives back the whole pages holding records [from, to) (the kernel
 *	maps them in again when they are read). A hint: changes no byte.
 */
void filemap_release(const file_map *m, int32_t from, int32_t to);

#endif
