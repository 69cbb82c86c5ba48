/*
 * scratch_test.cpp --
 *
 *	Scratch storage: large blocks are huge-page aligned, a freed one
 *	serves the next request it can hold, and idle blocks go back to the
 *	kernel on scratch_trim; a request no idle block serves takes the
 *	idle blocks' pages, largest first, and gives back what is left.
 */
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>

#include "trace/scratch.h"

namespace {

constexpr size_t MIB = size_t{1} << 20;

bool huge_aligned(const void *p)
{
    return reinterpret_cast<uintptr_t>(p) % (2 * MIB) == 0;
}

/* A scratch block of `bytes`, every byte `fill`. */
char *filled_block(size_t bytes, char fill)
{
    char *p = static_cast<char *>(scratch_alloc(bytes));
    std::memset(p, fill, bytes);
    return p;
}

TEST(scratch, FreedLargeBlocksServeLaterRequests)
{
    scratch_trim();
    struct step {
        size_t first;   /* bytes of the block taken and freed */
        size_t second;  /* bytes asked for next */
        bool same;      /* whether the freed block serves it */
        /* (a request it cannot serve may be given the same address
         * again by the C library, so that case is not compared) */
    };
    const step steps[] = {
        {2 * MIB, 2 * MIB, true},
        {6 * MIB, 3 * MIB, true},   /* a larger idle block serves */
        {2 * MIB - 16, 2 * MIB, true},  /* both take one huge page */
    };
    for (const step &s : steps) {
        void *a = scratch_alloc(s.first);
        ASSERT_TRUE(huge_aligned(a)) << s.first;
        std::memset(a, 0x5a, s.first);
        scratch_free(a);
        void *b = scratch_alloc(s.second);
        EXPECT_TRUE(huge_aligned(b)) << s.second;
        EXPECT_EQ(a == b, s.same) << s.first << " then " << s.second;
        std::memset(b, 0, s.second);
        scratch_free(b);
        scratch_trim();
    }
}

TEST(scratch, LiveBlocksAreNeverHandedOutTwice)
{
    scratch_trim();
    void *a = scratch_alloc(2 * MIB);
    void *b = scratch_alloc(2 * MIB);
    EXPECT_NE(a, b);
    scratch_free(a);
    void *c = scratch_alloc(2 * MIB);
    EXPECT_EQ(c, a);
    void *d = scratch_alloc(2 * MIB);
    EXPECT_NE(d, b);
    EXPECT_NE(d, c);
    for (void *p : {b, c, d})
        scratch_free(p);
    scratch_trim();

    /* Small blocks come from malloc and pass straight through. */
    void *s = scratch_alloc(100);
    std::memset(s, 1, 100);
    scratch_free(s);
    scratch_free(nullptr);
}

TEST(scratch, VectorsReuseTheTablesOfEarlierOnes)
{
    scratch_trim();
    const int32_t *first = nullptr;
    {
        scratch_vec<int32_t> v(1 << 20, -1);
        first = v.data();
    }
    scratch_vec<int32_t> w(1 << 20, 7);
    EXPECT_EQ(w.data(), first);
    for (size_t i = 0; i < w.size(); i += 4099)
        ASSERT_EQ(w[i], 7);
    w = scratch_vec<int32_t>();
    scratch_trim();
}

TEST(scratch, LargerRequestsTakeTheIdleBlocksPages)
{
    scratch_trim();
    /* Two idle blocks of 4 and 2 MiB, filled with their own byte; a
     * request of 8 MiB starts with the larger one's pages, then the
     * smaller one's, then fresh (zeroed) ones. */
    char *big = filled_block(4 * MIB, 0x4b);
    char *small = filled_block(2 * MIB, 0x53);
    scratch_free(small);
    scratch_free(big);
    const char *c = static_cast<const char *>(scratch_alloc(8 * MIB));
    ASSERT_TRUE(huge_aligned(c));
    const struct { size_t from, to; char byte; } runs[] = {
        {0, 4 * MIB, 0x4b}, {4 * MIB, 6 * MIB, 0x53}, {6 * MIB, 8 * MIB, 0}};
    for (const auto &r : runs)
        for (size_t k = r.from; k < r.to; k += 4093)
            ASSERT_EQ(c[k], r.byte) << k;
    scratch_free(const_cast<char *>(c));
    scratch_trim();
}

TEST(scratch, WhatARequestLeavesOfAnIdleBlockServesTheNext)
{
    scratch_trim();
    /* An idle block of 6 MiB serves 2 MiB from its start, and its other
     * 4 MiB, pages and bytes as they were, serve the next request. */
    char *a = filled_block(6 * MIB, 0x61);
    scratch_free(a);
    char *b = static_cast<char *>(scratch_alloc(2 * MIB));
    char *c = static_cast<char *>(scratch_alloc(4 * MIB));
    EXPECT_EQ(b, a);
    ASSERT_EQ(c, a + 2 * MIB);
    for (size_t k = 0; k < 4 * MIB; k += 4093)
        ASSERT_EQ(c[k], 0x61) << k;
    scratch_free(b);
    scratch_free(c);
    scratch_trim();

    /* Two idle blocks of 4 MiB and a request of 6: the second gives its
     * first 2 MiB, and its last 2 serve a request after that. */
    char *x = filled_block(4 * MIB, 0x4b);
    char *y = filled_block(4 * MIB, 0x53);
    scratch_free(x);
    scratch_free(y);
    const char *big = static_cast<const char *>(scratch_alloc(6 * MIB));
    const char *left = static_cast<const char *>(scratch_alloc(2 * MIB));
    ASSERT_TRUE(big[0] == 0x4b || big[0] == 0x53);
    char second = big[0] == 0x4b ? 0x53 : 0x4b;
    for (size_t k = 0; k < 6 * MIB; k += 4093)
        ASSERT_EQ(big[k], k < 4 * MIB ? big[0] : second) << k;
    for (size_t k = 0; k < 2 * MIB; k += 4093)
        ASSERT_EQ(left[k], second) << k;
    scratch_free(const_cast<char *>(big));
    scratch_free(const_cast<char *>(left));
    scratch_trim();
}

TEST(scratch, TakenAndPeakCountTheLargeBlocksHeldAtOnce)
{
    scratch_trim();
    scratch_peak_reset();
    size_t before = scratch_taken_bytes();
    EXPECT_EQ(scratch_peak_bytes(), before);
    /* Whole huge pages of the large blocks; small ones are not counted. */
    void *a = scratch_alloc(3 * MIB);
    void *b = scratch_alloc(2 * MIB);
    void *s = scratch_alloc(1000);
    EXPECT_EQ(scratch_taken_bytes(), before + 6 * MIB);
    scratch_free(a);
    EXPECT_EQ(scratch_taken_bytes(), before + 2 * MIB);
    /* An idle block handed out again counts the huge pages taken of it. */
    void *c = scratch_alloc(MIB + 1);
    EXPECT_EQ(scratch_taken_bytes(), before + 4 * MIB);
    EXPECT_EQ(scratch_peak_bytes(), before + 6 * MIB);
    scratch_free(c);
    scratch_free(b);
    scratch_free(s);
    EXPECT_EQ(scratch_taken_bytes(), before);
    EXPECT_EQ(scratch_peak_bytes(), before + 6 * MIB);
    scratch_peak_reset();
    EXPECT_EQ(scratch_peak_bytes(), before);
    scratch_trim();
}

}  // namespace
