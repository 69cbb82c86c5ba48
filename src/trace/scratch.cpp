/*
 * scratch.cpp --
 *
 *	Huge-page friendly scratch blocks (see scratch.h).
 */

#include "trace/scratch.h"

#include <cstdint>
#include <cstdlib>

#include <sys/mman.h>

namespace {

/* The huge page size of x86-64 and arm64 Linux. */
constexpr size_t HUGE_PAGE = size_t{2} << 20;

/* Blocks from this size on are taken aligned and marked. */
constexpr size_t LARGE_BLOCK = size_t{1} << 20;

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

void *scratch_alloc(size_t bytes)
{
    void *p = nullptr;
    if (bytes >= LARGE_BLOCK) {
        size_t whole = (bytes + HUGE_PAGE - 1) & ~(HUGE_PAGE - 1);
        p = std::aligned_alloc(HUGE_PAGE, whole);
        if (p != nullptr) {
            prefer_huge_pages(p, whole);
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
    std::free(p);
}
