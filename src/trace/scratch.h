/*
 * scratch.h --
 *
 *	Scratch storage for the fast passes over a trace (the matcher's index,
 *	the analysis passes' tables). Their tables hold a few bytes per
 *	record and live for one call or one load, so on a large trace they
 *	are tens of megabytes of fresh memory, and the cost of a pass is then
 *	mostly the kernel giving it pages. Blocks of a megabyte or more are
 *	taken 2 MiB-aligned, so that a system that backs all memory with
 *	transparent huge pages can do so here; they are not marked for them
 *	(madvise MADV_HUGEPAGE): on a virtual machine that gives freed memory
 *	back to its host, a fresh huge page waits for the host to back all of
 *	it again, and a 5M-segment load that asked for them took 2.8 s
 *	instead of 0.9 s (median of five) whenever the host was slow to. The
 *	reader's helper supplies the pages of the large arrays ahead instead.
 *
 *	A large block its user frees is kept for the next request it can
 *	serve: the passes of one load run one after another, and the later
 *	ones then find their pages already there. A request takes only the
 *	huge pages it needs of an idle block that serves it, the rest
 *	staying idle. A request no idle block serves takes the idle blocks'
 *	pages (moved, not copied) as far as they go, so that only the rest
 *	is fresh memory. While a capture is read, idle blocks for the
 *	analysis that follows are made ready (scratch_prepare) and their
 *	pages supplied on another core.
 *
 *	scratch_vec<T> is a std::vector drawing from that storage; every
 *	large table of the fast passes is one.
 */

#ifndef WIREPAINT_TRACE_SCRATCH_H
#define WIREPAINT_TRACE_SCRATCH_H

#include <cstddef>
#include <new>
#include <vector>

/*
 * scratch_alloc --
 *	`bytes` of uninitialised storage, for scratch_free. Large blocks are
 *	2 MiB-aligned. Throws std::bad_alloc when
 *	the memory cannot be had. No other side effects.
 */
void *scratch_alloc(size_t bytes);

/*
 * scratch_free --
 *	Frees a block of scratch_alloc; null is allowed. A large block is
 *	kept idle for the next scratch_alloc it can serve (the process's
 *	scratch state keeps it) until scratch_trim or a request no idle
 *	block serves takes its pages or gives it back.
 */
void scratch_free(void *p);

/*
 * scratch_trim --
 *	Gives every idle large block back to the kernel. Called when a
 *	load ends, so that a loaded trace holds no idle scratch memory;
 *	a test calls it to put the scratch state back to its start.
 */
void scratch_trim();

/*
 * scratch_prepare --
 *	Makes sure that idle scratch of `bytes` or more is there, its pages
 *	asked for through the populate-ahead helper (capture/prefault.h) when
 *	one runs: the reader calls it as a trace grows, for the scratch the
 *	analysis of that trace will take at least, so that its tables find
 *	pages cleared on another core while the reader worked. Adds to the
 *	idle scratch in steps of a few megabytes, never beyond `bytes`; below
 *	a few megabytes does nothing. Side effects: the scratch state; the
 *	helper's queue.
 */
void scratch_prepare(size_t bytes);

/*
 * scratch_taken_bytes, scratch_peak_bytes --
 *	Bytes of the large blocks handed out and not yet freed (whole huge
 *	pages, touched or not), now and at most since scratch_peak_reset:
 *	what the passes hold at once, for the benchmarks. No side effects.
 */
size_t scratch_taken_bytes();
size_t scratch_peak_bytes();

/*
 * scratch_peak_reset --
 *	Starts the peak of scratch_peak_bytes again from the bytes taken now.
 */
void scratch_peak_reset();

template <typename T>
struct scratch_allocator {
    using value_type = T;
    scratch_allocator() = default;
    template <typename U>
    scratch_allocator(const scratch_allocator<U> &) {}
    T *allocate(size_t n) { return static_cast<T *>(scratch_alloc(n * sizeof(T))); }
    void deallocate(T *p, size_t) { scratch_free(p); }
};

template <typename T, typename U>
bool operator==(const scratch_allocator<T> &, const scratch_allocator<U> &)
{
    return true;
}

template <typename T, typename U>
bool operator!=(const scratch_allocator<T> &, const scratch_allocator<U> &)
{
    return false;
}

template <typename T>
using scratch_vec = std::vector<T, scratch_allocator<T>>;

/*
 * scratch_table<T> --
 *	`n` elements of a trivial type T from scratch storage, left
 *	uninitialised: for a table that a pass writes in full before it reads
 *	it, so that its memory is written once, not cleared first. Owns the
 *	storage (scratch_free when it goes or is released). Throws
 *	std::bad_alloc.
 */
template <typename T>
class scratch_table {
public:
    scratch_table() : p_(nullptr), n_(0) {}
    explicit scratch_table(size_t n) : p_(static_cast<T *>(scratch_alloc(n * sizeof(T)))), n_(n) {}
    ~scratch_table() { scratch_free(p_); }
    scratch_table(const scratch_table &) = delete;
    scratch_table &operator=(const scratch_table &) = delete;
    T &operator[](size_t k) { return p_[k]; }
    const T &operator[](size_t k) const { return p_[k]; }
    T *data() { return p_; }
    size_t size() const { return n_; }

    /* Gives the storage back and takes room for `n` elements, uninitialised. */
    void reset(size_t n)
    {
        release();
        p_ = static_cast<T *>(scratch_alloc(n * sizeof(T)));
        n_ = n;
    }
    /* Gives the storage back; the table is empty. */
    void release()
    {
        scratch_free(p_);
        p_ = nullptr;
        n_ = 0;
    }

private:
    T *p_;
    size_t n_;
};

#endif
