/*
 * prefault.h --
 *
 *	A helper thread that has the kernel supply the pages of the large
 *	arrays a read fills (the record array, the copy blocks) ahead of the
 *	reader. The first write to a fresh page costs a fault and the clearing
 *	of the page, and on a large capture that is a good part of the read;
 *	asked for in advance (madvise MADV_POPULATE_WRITE, which faults pages
 *	in without writing a byte), the pages are ready when the reader gets
 *	there, and the clearing runs on another core.
 *
 *	A request is a hint: it changes no byte of memory, a range that is
 *	unmapped by then is skipped by the kernel, and requests beyond what
 *	the queue holds are dropped. Where the kernel or the threads are
 *	missing, nothing happens.
 */

#ifndef WIREPAINT_CAPTURE_PREFAULT_H
#define WIREPAINT_CAPTURE_PREFAULT_H

#include <cstddef>

/*
 * prefault_begin --
 *	Starts the helper for one read. No effect when it runs already, when
 *	the kernel cannot populate ahead or when no thread can be started.
 */
void prefault_begin();

/*
 * prefault_ask --
 *	Queues [p, p + len) for populating, from the start of the page p lies
 *	in, and returns at once. Dropped when no helper runs or the queue is
 *	full.
 */
void prefault_ask(void *p, size_t len);

/*
 * prefault_ask_read --
 *	Queues [p, p + len) of a read-only file mapping for mapping in ahead
 *	of a reader walking it (madvise MADV_POPULATE_READ), so that the
 *	page faults of the walk are taken on the helper's core. Dropped like
 *	prefault_ask's, and where the kernel cannot populate for reading.
 */
void prefault_ask_read(const void *p, size_t len);

/*
 * prefault_release --
 *	Gives back the pages of [p, p + len) of a file mapping (madvise
 *	MADV_DONTNEED). While a helper runs, the request joins its queue
 *	behind every prefault_ask_read, waiting for room when the queue is
 *	full and carried out by prefault_end even when that drops the rest:
 *	so a range asked for ahead is never mapped in again after it was
 *	given back. Without a helper it is done at once.
 */
void prefault_release(const void *p, size_t len);

/*
 * prefault_ask_later --
 *	Queues [p, p + len) for populating when no prefault_ask request waits:
 *	for memory a later pass will take, populated a piece at a time so
 *	that a request of the reader's waits for one piece at most. Dropped
 *	like prefault_ask's.
 */
void prefault_ask_later(void *p, size_t len);

/*
 * prefault_end --
 *	Stops the helper and waits for it. With `finish` set it first
 *	populates every range still queued, otherwise it drops them (those
 *	of prefault_ask_later are dropped either way); queued releases are
 *	carried out either way.
 */
void prefault_end(bool finish);

/* Whether a helper runs (between prefault_begin and prefault_end). */
bool prefault_running();

#endif
