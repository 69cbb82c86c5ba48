/*
 * prefault_test.cpp --
 *
 *	The populate-ahead helper: a range asked for while it runs is resident
 *	once it has finished, with every byte still zero; a range asked for
 *	with no helper stays untouched; the helper comes and goes with each
 *	read.
 */

#include "trace/prefault.h"

#include <gtest/gtest.h>

#include <cstdint>

#include <sys/mman.h>
#include <unistd.h>

#include "support/resident.h"

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
    mapping before(len), during(len);
    ASSERT_NE(before.p, nullptr);
    ASSERT_NE(during.p, nullptr);

    prefault_ask(before.p, len);            /* no helper yet: dropped */
    prefault_begin();
    if (!prefault_running())
        GTEST_SKIP() << "the kernel cannot populate ahead here";
    prefault_ask(during.p, len);
    prefault_end(true);
    EXPECT_FALSE(prefault_running());
    EXPECT_EQ(resident_pages(before.p, len), 0u);
    EXPECT_EQ(resident_pages(during.p, len), len / page);
    for (size_t i = 0; i < len; i++)
        ASSERT_EQ(during.p[i], 0) << i;

    /* A second read starts a helper again. */
    prefault_begin();
    EXPECT_TRUE(prefault_running());
    prefault_end(false);
    EXPECT_FALSE(prefault_running());
}

}  // namespace
