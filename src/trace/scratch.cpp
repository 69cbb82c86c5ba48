/*
 * scratch.cpp --
 *
 *	Huge-page friendly scratch blocks (see scratch.h).
 */

#include "trace/scratch.h"

#include <cstdint>
#include <cstdlib>
#include <mutex>

#include <sys/mman.h>

namespace {

/* The huge page size of x86-64 and arm64 Linux. */
constexpr size_t HUGE_PAGE = size_t{2} << 20;

/* Blocks from this size on are taken aligned and marked. */
constexpr size_t LARGE_BLOCK = size_t{1} << 20;

/* Large blocks the state below can follow at once. */
constexpr int MAX_BLOCKS = 64;

/* One large block taken from the C library. */
struct scratch_block {
    void *p;       /* the block, 2 MiB-aligned; null: slot unused */
    size_t bytes;  /* its size, a whole number of huge pages */
    bool idle;     /* freed by its user and kept for the next request */
};

/*
 * The scratch storage's single-instance state: every large block handed
 * out and not given back to the C library. A block its user frees stays
 * here, idle, so that the next pass's table takes pages that are already
 * there instead of fresh ones the kernel must clear (on a large trace
 * that clearing is most of a pass's cost). Set by scratch_alloc,
 * scratch_free and scratch_trim only, under `lock`: the loader runs some
 * passes on a second thread.
 */
struct scratch_state {
    std::mutex lock;                   /* held by each of the three calls */
    scratch_block blocks[MAX_BLOCKS];  /* slots; unused ones have p null */
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

} // namespace

void prefer_huge_pages(void *p, size_t bytes)
{
#ifdef MADV_HUGEPAGE
    uintptr_t from = (reinterpret_cast<uintptr_t>(p) + HUGE_PAGE - 1) & ~(HUGE_PAGE - 1);
    uintptr_t to = (reinterpret_cast<uintptr_t>(p) + bytes) & ~(HUGE_PAGE - 1);
    if (to > from)
        madvise(reinterpret_cast<void *>(from), to - from, MADV_HUGEPAGE);
#else
    (void)p;
    (void)bytes;
#endif
}

namespace {

void trim_idle()
{
    for (scratch_block &b : g_scratch.blocks) {
        if (b.p == nullptr || !b.idle)
            continue;
        std::free(b.p);
        b = scratch_block{};
    }
}

}  // namespace

void scratch_trim()
{
    std::lock_guard<std::mutex> hold(g_scratch.lock);
    trim_idle();
}

void *scratch_alloc(size_t bytes)
{
    void *p = nullptr;
    if (bytes >= LARGE_BLOCK) {
        std::lock_guard<std::mutex> hold(g_scratch.lock);
        size_t whole = (bytes + HUGE_PAGE - 1) & ~(HUGE_PAGE - 1);
        if (scratch_block *b = idle_fit(whole)) {
            b->idle = false;
            return b->p;
        }
        /* No idle block serves: give the idle ones back before taking
         * new memory, so that they never add to the peak. */
        trim_idle();
        p = std::aligned_alloc(HUGE_PAGE, whole);
        if (p != nullptr) {
            prefer_huge_pages(p, whole);
            if (scratch_block *b = slot_of(nullptr))
                *b = scratch_block{p, whole, false};
            return p;
        }
    }
    p = std::malloc(bytes > 0 ? bytes : 1);
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
        return;
    }
    std::free(p);
}
