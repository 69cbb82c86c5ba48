/*
 * capfile.h --
 *
 *	Getting records out of a capture's bytes: the driver that tells the
 *	form of a file or pipe by its leading bytes (never by its name) and
 *	picks the reader, shared by the capture reader and the connection
 *	list. The forms:
 *
 *	    classic or pcapng file      walked where it lies (filemap.h,
 *	    on disk                     pcapng_walk.h)
 *	    other file libpcap reads    libpcap through a stdio buffer
 *	    compressed file or pipe     decompressed on a second thread into
 *	                                a ring (stream.h, decompress.h): a
 *	                                classic capture's records or a pcapng
 *	                                capture's blocks walked in it
 *	                                (classic_record.h, pcapng_walk.h),
 *	                                any other read by libpcap through it
 *	    plain pipe, standard input  libpcap on a stream that hands back
 *	                                the leading bytes first (stream.h)
 *
 *	Here too: the open with its failure message, the -f filter applied
 *	to the opened file, the run over every packet with libpcap's own text
 *	for a read error, and the file cut short, whose packets are kept
 *	after a warning; and the check the window makes before it lets go of
 *	the current connection.
 */

#ifndef WIREPAINT_CAPTURE_CAPFILE_H
#define WIREPAINT_CAPTURE_CAPFILE_H

#include <cstdint>
#include <string>

#include <pcap/pcap.h>

struct ring_stream;

/* An open capture read through a decompressing ring (capture/stream.h):
 * its run tells a bad end of the data from libpcap's read error by it. */
struct capfile_stream {
    pcap_t *pc;           /* the open capture; null for a free slot */
    ring_stream *ring;    /* its ring, freed by the capture's close */
};

/* Captures open at once through a ring, at most (more read on, their
 * data's end then told as libpcap's read error). */
enum { CAPFILE_STREAMS = 4 };

/* The capture-file settings and the read buffer of the process. One
 * instance, g_capfile. */
struct capfile_state {
    std::string filter;   /* -f expression, applied to every file opened;
                           * empty for none; set by the command line */
    char *buffer;         /* stdio buffer of the open capture, READ_BUFFER
                           * bytes; allocated by the first capture_open,
                           * kept for the next one; null until then */
    pcap_t *buffer_user;  /* the open capture reading through `buffer`;
                           * null when none does (capture_close) */
    int64_t capture_size; /* bytes of capture the file opened last holds
                           * (decompressed, for a compressed file); -1
                           * when unknown (a pipe); set by capture_open */
    capfile_stream streams[CAPFILE_STREAMS]; /* set by capture_open,
                           * cleared by capture_close */
    bool literal_read;    /* every capture read by libpcap alone, never
                           * from its map (the literal form of the mapped
                           * walk); false but in tests, which set it */
};

/* Bytes of the read buffer: libpcap reads a savefile with two fread
 * calls per packet, and stdio's default 4 KiB buffer would turn a large
 * capture into tens of thousands of read system calls. */
enum { READ_BUFFER = 1 << 20 };

extern capfile_state g_capfile;

/*
 * capture_open --
 *	Opens `file` with libpcap (through a READ_BUFFER stdio buffer when
 *	it is a named file and the buffer is free) and applies the filter,
 *	if any. A file whose leading bytes are a compressor's is first
 *	decompressed whole into memory, and libpcap reads that. The result
 *	must be closed with capture_close or capture_run. Sets
 *	g_capfile.capture_size. Failures go through load_fail: a file that
 *	cannot be opened or is no capture gives "pcap_open: ..." and status
 *	-1; a filter libpcap cannot compile gives "wirepaint: bad filter
 *	expression: " with libpcap's reason, and status 1; compressed data
 *	the library refuses gives "wirepaint: FILE: corrupt NAME data: " with
 *	its reason, and status 1, here or when the run meets it (before any
 *	other failure of the run); a read error or no memory while
 *	decompressing gives "FILE: " and the system's text, status -1.
 *	Compressed data cut short only warns ("wirepaint: warning: FILE: NAME
 *	data cut short; read up to the cut", load_warnf) when the read meets
 *	the cut, and what was decoded up to the cut is read.
 */
pcap_t *capture_open(const char *file);

/*
 * capture_close --
 *	Closes `pc` (pcap_close) and frees the read buffer for the next
 *	capture_open when `pc` was reading through it.
 */
void capture_close(pcap_t *pc);

/*
 * capture_run --
 *	Runs `handler` over every packet of `pc` (pcap_loop, user data
 *	`user`), then closes `pc`. A read error gives "pcap_loop: " and
 *	libpcap's text, status -2 (through load_fail). A file that ends inside
 *	a record after at least one packet only writes "wirepaint: warning:
 *	FILE: TEXT" (load_warnf) and keeps what was read. A load_error thrown
 *	by the handler inside a trapped load stops the run, closes `pc` and is
 *	thrown on to the caller.
 */
void capture_run(pcap_t *pc, const char *file, pcap_handler handler, u_char *user);

struct file_map;

/*
 * capture_run_mapped --
 *	capture_run reading the records from `m`, the map of the file `pc`
 *	was opened on (capture/filemap.h), when its records can be read there
 *	with libpcap's outcome (filemap_can_hand): the same packets, headers,
 *	bytes, filter verdicts (libpcap's compiled program on each record),
 *	messages and statuses, without a copy of the file. Otherwise, and for
 *	a null `m`, capture_run itself. Closes `pc` either way.
 */
void capture_run_mapped(pcap_t *pc, const char *file, file_map *m, pcap_handler handler,
                        u_char *user);

/*
 * capture_probe --
 *	Whether `file` can be loaded at all: it opens with libpcap, has a
 *	link type wirepaint reads, and the filter compiles on it; of a
 *	compressed file only the first MiB of the decompressed data is
 *	decoded and looked at. Returns 1, or 0 with the reason (libpcap's,
 *	the decompressor's or wirepaint's) in *reason. Writes nothing and
 *	never ends the process.
 */
int capture_probe(const char *file, std::string *reason);

#endif
