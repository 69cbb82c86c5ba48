/*
 * scratch.cpp --
 *
 *	Huge-page friendly scratch blocks (see scratch.h).
 */

#include "trace/scratch.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <mutex>

#include <sys/mman.h>

#include "capture/prefault.h"

namespace {

/* The huge page size of x86-64 and arm64 Linux. */
constexpr size_t HUGE_PAGE = size_t{2} << 20;

/* Blocks from this size on are taken aligned and marked. */
constexpr size_t LARGE_BLOCK = size_t{1} << 20;

/* Large blocks the state below can follow at once. */
constexpr int MAX_BLOCKS = 64;

/* scratch_prepare adds idle scratch at least this much at a time. A
 * small first step matters: the reader prepares for the records it has
 * read so far, and with steps of 8 MiB a capture of half a million
 * records got its first (and only) step when four fifths of it were
 * read, too late for the helper to fill it in before the analysis took
 * those pages itself. */
constexpr size_t PREPARE_STEP = size_t{2} << 20;

/* One large block, mapped from the kernel. */
struct scratch_block {
    void *p;       /* the block, 2 MiB-aligned; null: slot unused */
    size_t bytes;  /* its size, a whole number of huge pages */
    bool idle;     /* freed by its user and kept for the next request */
};

/*
 * The scratch storage's single-instance state: every large block handed
 * out and not given back to the kernel. A block its user frees stays
 * here, idle, so that the next pass's table takes pages that are already
 * there instead of fresh ones the kernel must clear (on a large trace
 * that clearing is most of a pass's cost). Set by scratch_alloc,
 * scratch_free, scratch_trim, scratch_prepare and scratch_peak_reset
 * only, under `lock`: the loader runs some passes on a second thread.
 */
struct scratch_state {
    std::mutex lock;                   /* held by each of the calls */
    scratch_block blocks[MAX_BLOCKS];  /* slots; unused ones have p null */
    size_t taken;                      /* bytes of blocks handed out and not
                                        * freed; scratch_alloc, scratch_free */
    size_t peak;                       /* most of `taken` since the last
                                        * scratch_peak_reset; scratch_alloc */
    size_t prepared;                   /* bytes scratch_prepare added since
                                        * the last scratch_trim */
};

scratch_state g_scratch;

/* The slot holding p, or null. */
scratch_block *slot_of(const void *p)
{
    for (scratch_block &b : g_scratch.blocks)
        if (b.p == p)
            return &b;
    return nullptr;
}

/* Counts a block of `bytes` handed out. */
void note_taken(size_t bytes)
{
    g_scratch.taken += bytes;
    g_scratch.peak = std::max(g_scratch.peak, g_scratch.taken);
}

/* The smallest idle block of at least `bytes`, or null. */
scratch_block *idle_fit(size_t bytes)
{
    scratch_block *best = nullptr;
    for (scratch_block &b : g_scratch.blocks) {
        if (b.p == nullptr || !b.idle || b.bytes < bytes)
            continue;
        if (best == nullptr || b.bytes < best->bytes)
            best = &b;
    }
    return best;
}

void trim_idle()
{
    for (scratch_block &b : g_scratch.blocks) {
        if (b.p == nullptr || !b.idle)
            continue;
        munmap(b.p, b.bytes);
        b = scratch_block{};
    }
}

}  // namespace

void scratch_trim()
{
    std::lock_guard<std::mutex> hold(g_scratch.lock);
    trim_idle();
    g_scratch.prepared = 0;
}

namespace {

/* Maps `whole` bytes (a multiple of HUGE_PAGE), HUGE_PAGE-aligned and
 * not yet touched; null when the memory cannot be had. */
void *map_aligned(size_t whole)
{
    size_t span = whole + HUGE_PAGE;
    void *raw = mmap(nullptr, span, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (raw == MAP_FAILED)
        return nullptr;
    uintptr_t from = reinterpret_cast<uintptr_t>(raw);
    uintptr_t at = (from + HUGE_PAGE - 1) & ~(HUGE_PAGE - 1);
    if (at > from)
        munmap(raw, at - from);
    size_t tail = from + span - (at + whole);
    if (tail > 0)
        munmap(reinterpret_cast<void *>(at + whole), tail);
    return reinterpret_cast<void *>(at);
}

/* The largest idle block, or null. */
scratch_block *largest_idle()
{
    scratch_block *best = nullptr;
    for (scratch_block &b : g_scratch.blocks)
        if (b.p != nullptr && b.idle && (best == nullptr || b.bytes > best->bytes))
            best = &b;
    return best;
}

/*
 * Moves the pages of idle blocks, largest first, to the front of the
 * fresh block p of `whole` bytes (mremap moves page tables, not bytes),
 * so that the new block takes pages the process has already instead of
 * pages the kernel must clear. A block moved whole leaves its slot; of
 * one moved in part, the rest stays idle for the next request (passes
 * that run side by side then share the pages the passes before them
 * gave back). Should a move fail, the rest of p is mapped afresh; false
 * when even that fails (p may then have a hole: the caller unmaps it).
 */
bool gather_idle(char *p, size_t whole)
{
    size_t at = 0;
    while (at < whole) {
        scratch_block *b = largest_idle();
        if (b == nullptr)
            return true;
        size_t take = b->bytes < whole - at ? b->bytes : whole - at;
        void *moved = mremap(b->p, take, take, MREMAP_MAYMOVE | MREMAP_FIXED, p + at);
        if (moved == MAP_FAILED) {
            munmap(b->p, b->bytes);
            *b = scratch_block{};
            return mmap(p + at, whole - at, PROT_READ | PROT_WRITE,
                        MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED, -1, 0) != MAP_FAILED;
        }
        at += take;
        if (take == b->bytes) {
            *b = scratch_block{};
        } else {
            b->p = static_cast<char *>(b->p) + take;
            b->bytes -= take;
        }
    }
    return true;
}

}  // namespace

void *scratch_alloc(size_t bytes)
{
    if (bytes >= LARGE_BLOCK) {
        std::lock_guard<std::mutex> hold(g_scratch.lock);
        size_t whole = (bytes + HUGE_PAGE - 1) & ~(HUGE_PAGE - 1);
        if (scratch_block *b = idle_fit(whole)) {
            /* Only what is asked for; the rest stays idle in a slot of
             * its own where there is one. */
            scratch_block *rest = b->bytes > whole ? slot_of(nullptr) : nullptr;
            if (rest != nullptr) {
                *rest = scratch_block{static_cast<char *>(b->p) + whole, b->bytes - whole, true};
                b->bytes = whole;
            }
            b->idle = false;
            note_taken(b->bytes);
            return b->p;
        }
        /* No idle block serves: the new one takes the idle ones' pages.
         * What is left of them stays idle: it is resident already, so
         * keeping it never raises the peak, and a pass beside this one
         * may take it (scratch_trim gives it back when the load ends). */
        scratch_block *slot = slot_of(nullptr);
        void *p = slot != nullptr ? map_aligned(whole) : nullptr;
        if (p != nullptr) {
            bool whole_block = gather_idle(static_cast<char *>(p), whole);
            if (whole_block) {
                *slot = scratch_block{p, whole, false};
                note_taken(whole);
                return p;
            }
            munmap(p, whole);
        }
        trim_idle();
    }
    void *p = std::malloc(bytes > 0 ? bytes : 1);
    if (p == nullptr)
        throw std::bad_alloc();
    return p;
}

void scratch_free(void *p)
{
    if (p == nullptr)
        return;
    std::lock_guard<std::mutex> hold(g_scratch.lock);
    scratch_block *b = slot_of(p);
    if (b != nullptr) {
        b->idle = true;
        g_scratch.taken -= b->bytes;
        return;
    }
    std::free(p);
}

void scratch_prepare(size_t bytes)
{
    std::lock_guard<std::mutex> hold(g_scratch.lock);
    /* Steps of a quarter of what is there (PREPARE_STEP at least), so that the
     * blocks stay few on the largest traces. */
    size_t step = std::max(PREPARE_STEP, g_scratch.prepared / 4 / HUGE_PAGE * HUGE_PAGE);
    if (bytes < g_scratch.prepared + step)
        return;
    size_t more = (bytes - g_scratch.prepared) / step * step;
    /* Slots are kept for the passes' own blocks. */
    int free_slots = 0;
    for (const scratch_block &b : g_scratch.blocks)
        free_slots += b.p == nullptr;
    if (free_slots <= MAX_BLOCKS / 2)
        return;
    void *p = map_aligned(more);
    if (p == nullptr)
        return;
    *slot_of(nullptr) = scratch_block{p, more, true};
    g_scratch.prepared += more;
    prefault_ask_later(p, more);
}

size_t scratch_taken_bytes()
{
    std::lock_guard<std::mutex> hold(g_scratch.lock);
    return g_scratch.taken;
}

size_t scratch_peak_bytes()
{
    std::lock_guard<std::mutex> hold(g_scratch.lock);
    return g_scratch.peak;
}

void scratch_peak_reset()
{
    std::lock_guard<std::mutex> hold(g_scratch.lock);
    g_scratch.peak = g_scratch.taken;
}
