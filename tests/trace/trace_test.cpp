/*
 * trace_test.cpp --
 *
 *	The trace state's copy blocks: copies cut one after the other from
 *	zero-filled blocks, a copy larger than a block in a block of its own,
 *	and trace_free giving every block back (the sanitizer build checks
 *	that nothing leaks or is read past).
 */

#include "trace/trace.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

class TraceTest : public ::testing::Test {
protected:
    void SetUp() override { trace_state_clear(); }
    void TearDown() override { trace_state_clear(); }
};

int blocks_of(const trace_array &t)
{
    int n = 0;
    for (const copy_block *b = t.copies; b != nullptr; b = b->prev)
        n++;
    return n;
}

TEST_F(TraceTest, CopiesAreCutFromZeroFilledBlocks)
{
    trace_array t{};
    EXPECT_EQ(trace_copy_space(&t, 0), nullptr);
    EXPECT_EQ(t.copies, nullptr);

    const size_t n = 96;
    const size_t per_block = COPY_BLOCK_BYTES / n;
    uint8_t *first = trace_copy_space(&t, n);
    ASSERT_NE(first, nullptr);
    std::memset(first, 0xab, n);
    uint8_t *second = trace_copy_space(&t, n);
    EXPECT_EQ(second, first + n);   /* the next copy follows in the block */
    for (size_t i = 0; i < n; i++)
        ASSERT_EQ(second[i], 0) << i;
    for (size_t i = 2; i < per_block; i++)
        trace_copy_space(&t, n);
    EXPECT_EQ(blocks_of(t), 1);
    uint8_t *next = trace_copy_space(&t, n);   /* the first block is full */
    ASSERT_NE(next, nullptr);
    EXPECT_EQ(blocks_of(t), 2);
    EXPECT_EQ(next[n - 1], 0);

    uint8_t *big = trace_copy_space(&t, COPY_BLOCK_BYTES + 1);
    ASSERT_NE(big, nullptr);
    EXPECT_EQ(big[COPY_BLOCK_BYTES], 0);
    EXPECT_EQ(blocks_of(t), 3);
    EXPECT_EQ(t.copies->size, (size_t)COPY_BLOCK_BYTES + 1);

    trace_free(&t);
    EXPECT_EQ(t.copies, nullptr);
    EXPECT_EQ(t.count, 0);
}

TEST_F(TraceTest, ACopyTooLargeForMemoryGivesNoSpace)
{
    trace_array t{};
    EXPECT_EQ(trace_copy_space(&t, SIZE_MAX - 8), nullptr);
    EXPECT_EQ(t.copies, nullptr);
}

}  // namespace
