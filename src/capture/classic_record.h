/*
 * classic_record.h --
 *
 *	One record of a classic pcap savefile as libpcap's reader takes it,
 *	for the walks that read records without libpcap: the mapped file's
 *	(capture/filemap.h) and a decompressing ring's (capture/stream.h).
 *	The header's fields in host order, the stamp of a nanosecond file in
 *	microseconds, and libpcap's checks of the captured length against
 *	its maximum, the snapshot length and the bytes the file still holds,
 *	with libpcap's texts.
 */

#ifndef WIREPAINT_CAPTURE_CLASSIC_RECORD_H
#define WIREPAINT_CAPTURE_CLASSIC_RECORD_H

#include <cstddef>
#include <cstdint>

#include <pcap/pcap.h>

enum { CLASSIC_FILE_HEADER = 24, CLASSIC_RECORD_HEADER = 16 };

/* The most bytes libpcap takes as a record's captured length for the
 * link types wirepaint reads; more is a damaged file. */
enum : uint32_t { CLASSIC_MAX_CAPLEN = 262144 };

/* How a file's record headers are written. */
struct classic_format {
    bool swapped;   /* in the other byte order than this machine's */
    bool nano;      /* nanosecond stamps (the magic) */
};

/*
 * classic_header --
 *	The record header at `h` (CLASSIC_RECORD_HEADER bytes) into *hdr as
 *	libpcap reads it; the captured length as written.
 */
void classic_header(const uint8_t *h, classic_format f, struct pcap_pkthdr *hdr);

/*
 * classic_bad_caplen --
 *	Whether libpcap refuses the captured length of *hdr outright (above
 *	its maximum), with its text in errbuf (PCAP_ERRBUF_SIZE).
 */
bool classic_bad_caplen(const struct pcap_pkthdr *hdr, int snapshot, char *errbuf);

/*
 * classic_cut --
 *	Whether the record of *hdr, with `left` bytes of the file after its
 *	header, is cut short for libpcap, with its text in errbuf. Else cuts
 *	hdr->caplen to the snapshot length as libpcap does (the rest is
 *	stepped over) and returns false.
 */
bool classic_cut(struct pcap_pkthdr *hdr, int snapshot, size_t left, char *errbuf);

/* The text of a record header cut short: `got` of its bytes at the end. */
void classic_cut_header(size_t got, char *errbuf);

/* Whether the classic file `pc` was opened from, written as `f` with
 * link type `linktype`, can be read by a walk with exactly libpcap's
 * outcome: version 2.4 or later, the byte order libpcap found,
 * microsecond stamps asked for, a link type wirepaint reads whose bytes
 * libpcap does not rewrite (it swaps fields of cooked headers of a file
 * in the other byte order). */
bool classic_walkable(pcap_t *pc, classic_format f, int linktype);

#endif
