/*
 * prefault_test.cpp --
 *
 *	The populate-ahead helper: a range asked for while it runs is resident
 *	once it has finished, with every byte still zero; a range asked for
 *	with no helper stays untouched; the helper comes and goes with each
 *	read. A range asked for later is filled in once the helper has nothing
 *	else to do, and the scratch the reader prepares is such a range. A
 *	release queued behind a mapping-in is carried out after it, and even
 *	by an end that drops what else waits.
 */

#include "capture/prefault.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <thread>

#include <sys/mman.h>
#include <unistd.h>

#include "support/resident.h"
#include "trace/scratch.h"

namespace {

/* A fresh anonymous mapping of `len` bytes, unmapped at the end. */
struct mapping {
    size_t len;
    uint8_t *p;
    explicit mapping(size_t n) : len(n)
    {
        void *m = mmap(nullptr, n, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        p = m == MAP_FAILED ? nullptr : static_cast<uint8_t *>(m);
    }
    ~mapping()
    {
        if (p != nullptr)
            munmap(p, len);
    }
};

TEST(Prefault, AskedRangesAreFilledInWithoutWritingAByte)
{
    const size_t len = size_t{4} << 20, page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
    mapping before(len), during(len), records(len);
    ASSERT_NE(before.p, nullptr);
    ASSERT_NE(during.p, nullptr);
    ASSERT_NE(records.p, nullptr);

    prefault_ask(before.p, len);            /* no helper yet: dropped */
    prefault_begin();
    if (!prefault_running())
        GTEST_SKIP() << "the kernel cannot populate ahead here";
    prefault_ask(during.p, len);
    /* The records from index 52,429 on (40 bytes each) start mid-page:
     * their pages are filled in all the same, from the one they start in. */
    const size_t from = 52429 * 40;
    prefault_ask(records.p + from, len - from);
    prefault_end(true);
    EXPECT_FALSE(prefault_running());
    EXPECT_EQ(resident_pages(before.p, len), 0u);
    EXPECT_EQ(resident_pages(during.p, len), len / page);
    EXPECT_EQ(resident_pages(records.p, from / page * page), 0u);
    EXPECT_EQ(resident_pages(records.p + from / page * page, len - from / page * page),
              len / page - from / page);
    for (size_t i = 0; i < len; i++)
        ASSERT_EQ(during.p[i], 0) << i;

    /* A second read starts a helper again. */
    prefault_begin();
    EXPECT_TRUE(prefault_running());
    prefault_end(false);
    EXPECT_FALSE(prefault_running());
}

/* Waits up to ten seconds for [p, p + len) to be resident; then checks
 * that every 4093rd byte of it is still zero. */
void expect_filled_in_unwritten(const char *p, size_t len)
{
    size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
    for (int k = 0; k < 1000 && resident_pages(p, len) != len / page; k++)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_EQ(resident_pages(p, len), len / page);
    for (size_t i = 0; i < len; i += 4093)
        ASSERT_EQ(p[i], 0) << i;
}

TEST(Prefault, LaterRangesAndPreparedScratchAreFilledInBehindTheReader)
{
    const size_t mib = size_t{1} << 20;
    mapping later(10 * mib);
    ASSERT_NE(later.p, nullptr);
    scratch_trim();
    prefault_begin();
    if (!prefault_running())
        GTEST_SKIP() << "the kernel cannot populate ahead here";
    /* Pieces of a later range, once nothing else waits; no byte written. */
    prefault_ask_later(later.p, later.len);
    expect_filled_in_unwritten(reinterpret_cast<const char *>(later.p), later.len);
    /* Scratch prepared for a trace: below a step nothing, then idle
     * blocks whose pages the helper fills in and the next tables take,
     * without counting as taken. */
    size_t taken = scratch_taken_bytes();
    scratch_prepare(4 * mib);
    scratch_prepare(20 * mib);
    EXPECT_EQ(scratch_taken_bytes(), taken);
    char *table = static_cast<char *>(scratch_alloc(16 * mib));
    expect_filled_in_unwritten(table, 16 * mib);
    prefault_end(false);
    scratch_free(table);
    scratch_trim();
}

TEST(Prefault, ReleasesComeAfterTheMappingInAskedBeforeThem)
{
    const size_t mib = size_t{1} << 20;
    mapping slow(64 * mib), walked(4 * mib), touched(4 * mib);
    ASSERT_NE(slow.p, nullptr);
    ASSERT_NE(walked.p, nullptr);
    ASSERT_NE(touched.p, nullptr);
    for (size_t i = 0; i < touched.len; i += 4096)
        touched.p[i] = 1;
    prefault_begin();
    if (!prefault_running())
        GTEST_SKIP() << "the kernel cannot populate ahead here";
    /* Behind a request that keeps the helper busy, a range is asked for
     * and given back at once, as a walk that overtook the helper does. */
    prefault_ask(slow.p, slow.len);
    prefault_ask_read(walked.p, walked.len);
    prefault_release(walked.p, walked.len);
    prefault_end(true);
    EXPECT_EQ(resident_pages(walked.p, walked.len), 0u);

    prefault_begin();
    prefault_ask(slow.p + slow.len / 2, slow.len / 2);
    prefault_release(touched.p, touched.len);
    prefault_end(false);
    EXPECT_EQ(resident_pages(touched.p, touched.len), 0u);
    /* Without a helper a release is done at once. */
    touched.p[0] = 1;
    prefault_release(touched.p, touched.len);
    EXPECT_EQ(resident_pages(touched.p, touched.len), 0u);
}

}  // namespace
