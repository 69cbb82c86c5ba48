/*
 * trace_test.cpp --
 *
 *	The trace state's memory: copies cut in record order from zero-filled
 *	blocks and found again from the record's index, a copy larger than a
 *	block in a block of its own, record arrays that grow keeping their
 *	records, trace_free giving everything back (the sanitizer build checks
 *	that nothing leaks or is read past), and trace_trim giving back pages
 *	past the data.
 */

#include "trace/flow.h"
#include "trace/trace.h"

#include <gtest/gtest.h>

#include "support/resident.h"

#include <cstdlib>
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

TEST_F(TraceTest, CopiesAreCutInRecordOrderFromZeroFilledBlocks)
{
    trace_array t{};
    EXPECT_EQ(trace_new_copy(&t, 0, 0), nullptr);
    EXPECT_EQ(t.copies, nullptr);
    EXPECT_EQ(record_bytes(&t, 0), nullptr);
    EXPECT_EQ(record_cap_bytes(&t, 0), 0);

    const size_t n = 96;
    const size_t per_block = (COPY_BLOCK_BYTES - sizeof(copy_block)) / (n + COPY_SLOT_HEAD);
    uint8_t *first = trace_new_copy(&t, n, 96);
    ASSERT_NE(first, nullptr);
    std::memset(first, 0xab, n);
    uint8_t *second = trace_new_copy(&t, n, 40);
    EXPECT_EQ(second, first + n + COPY_SLOT_HEAD);   /* the next slot follows */
    for (size_t i = 0; i < n; i++)
        ASSERT_EQ(second[i], 0) << i;
    EXPECT_EQ(trace_new_copy(&t, n + 1, 0), nullptr);  /* one length per trace */
    for (size_t i = 2; i < per_block; i++)
        trace_new_copy(&t, n, static_cast<int32_t>(i));
    EXPECT_EQ(blocks_of(t), 1);
    uint8_t *next = trace_new_copy(&t, n, 7);   /* the first block is full */
    ASSERT_NE(next, nullptr);
    EXPECT_EQ(blocks_of(t), 2);
    EXPECT_EQ(next[n - 1], 0);

    /* Every copy is found again from its record's index. */
    int32_t last = static_cast<int32_t>(per_block);
    EXPECT_EQ(t.ncopies, last + 1);
    EXPECT_EQ(record_bytes(&t, 0), first);
    EXPECT_EQ(record_bytes(&t, 1), second);
    EXPECT_EQ(record_bytes(&t, last), next);
    EXPECT_EQ(record_cap_bytes(&t, 0), 96);
    EXPECT_EQ(record_cap_bytes(&t, 1), 40);
    EXPECT_EQ(record_cap_bytes(&t, last - 1), last - 1);
    EXPECT_EQ(record_cap_bytes(&t, last), 7);
    EXPECT_EQ(record_bytes(&t, last + 1), nullptr);
    EXPECT_EQ(record_bytes(&t, -1), nullptr);

    trace_free(&t);
    EXPECT_EQ(t.copies, nullptr);
    EXPECT_EQ(t.count, 0);
    EXPECT_EQ(record_bytes(&t, 0), nullptr);
}

TEST_F(TraceTest, CopiesLargerThanABlockGetABlockEach)
{
    trace_array t{};
    const size_t big = COPY_BLOCK_BYTES + 1;
    uint8_t *a = trace_new_copy(&t, big, 3);
    uint8_t *b = trace_new_copy(&t, big, 5);
    ASSERT_NE(a, nullptr);
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(a[big - 1], 0);
    EXPECT_EQ(blocks_of(t), 2);
    EXPECT_GE(t.copies->size, big + COPY_SLOT_HEAD);
    EXPECT_EQ(record_bytes(&t, 1), b);
    EXPECT_EQ(record_cap_bytes(&t, 0), 3);
    trace_free(&t);
}

TEST_F(TraceTest, RecordArraysGrowKeepingTheirRecords)
{
    /* An empty trace gets a mapping; growing it moves the records along. */
    trace_array t{};
    ASSERT_TRUE(trace_grow_records(&t, 10));
    EXPECT_EQ(t.rec_map, (void *)t.rec);
    ASSERT_GE(t.cap, 10);
    int32_t first_cap = t.cap;
    for (int32_t i = 0; i < first_cap; i++)
        set_seq(t.rec[i], i);
    t.count = first_cap;
    EXPECT_TRUE(trace_grow_records(&t, first_cap));   /* room enough already */
    EXPECT_EQ(t.cap, first_cap);
    ASSERT_TRUE(trace_grow_records(&t, first_cap * 3));
    ASSERT_GE(t.cap, first_cap * 3);
    for (int32_t i = 0; i < first_cap; i++)
        ASSERT_EQ(seq_of(t.rec[i]), i) << i;
    EXPECT_EQ(seq_of(t.rec[t.cap - 1]), 0);   /* new room is zero */
    trace_free(&t);
    EXPECT_EQ(t.rec, nullptr);
    EXPECT_EQ(t.rec_map, nullptr);

    /* An array from malloc, as a test builds one, grows by realloc. */
    t.rec = static_cast<seg_record *>(std::calloc(2, sizeof(seg_record)));
    t.cap = 2;
    set_seq(t.rec[1], 7);
    ASSERT_TRUE(trace_grow_records(&t, 5));
    EXPECT_EQ(t.cap, 5);
    EXPECT_EQ(seq_of(t.rec[1]), 7);
    EXPECT_EQ(t.rec_map, nullptr);
    trace_free(&t);
}

TEST_F(TraceTest, ACopyTooLargeForMemoryGivesNoSpace)
{
    trace_array t{};
    EXPECT_EQ(trace_new_copy(&t, SIZE_MAX - 8, 0), nullptr);
    EXPECT_EQ(t.copies, nullptr);
}

/* A populate-ahead helper may fill in pages past the data; trim gives
 * them back and keeps every record and copy. */
TEST_F(TraceTest, TrimGivesBackPagesPastTheRecordsAndCopies)
{
    trace_array t{};
    const int32_t want = 4 * RECORDS_AHEAD / static_cast<int32_t>(sizeof(seg_record));
    ASSERT_TRUE(trace_grow_records(&t, want));
    uint8_t *copy = trace_new_copy(&t, 100, 100);
    ASSERT_NE(copy, nullptr);
    std::memset(copy, 0x5a, 100);
    t.count = 10;
    set_seq(t.rec[9], 1234);
    /* Fill everything in, as a helper running ahead would. */
    std::memset(t.rec + t.count, 0, t.rec_map_len - t.count * sizeof(seg_record));
    uint8_t *block = reinterpret_cast<uint8_t *>(t.copies + 1);
    std::memset(copy + 100, 0, t.copies->size - 100 - COPY_SLOT_HEAD);

    trace_trim(&t);
    const size_t huge = size_t{2} << 20;
    EXPECT_EQ(resident_pages(static_cast<uint8_t *>(t.rec_map) + huge, t.rec_map_len - huge), 0u);
    EXPECT_EQ(seq_of(t.rec[9]), 1234);
    EXPECT_EQ(copy[99], 0x5a);
    EXPECT_EQ(copy[100], 0);
    EXPECT_EQ(resident_pages(reinterpret_cast<uint8_t *>(t.copies) + huge, huge), 0u);
    EXPECT_EQ(block[t.copies->size - 1], 0);  /* zero again when touched */
    trace_free(&t);
}

}  // namespace
