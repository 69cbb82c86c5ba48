/*
 * text_state_test.cpp --
 *
 *	The test reset of the segment text state: after it, the relative
 *	sequence table, the name caches and their pools are as at process
 *	start, and what is made afterwards is made afresh.
 */

#include "text/text_state.h"

#include <gtest/gtest.h>

#include "text/names.h"
#include "text/relseq.h"
#include "trace/trace.h"

namespace {

const uint8_t h1[4] = {10, 0, 0, 1};
const uint8_t h2[4] = {10, 0, 0, 2};
const uint8_t h6[16] = {0x20, 0x01, 0x0d, 0xb8, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1};

TEST(TextState, ClearEmptiesTableCachesAndPools)
{
    text_state_clear();
    for (int p = 0; p < 100; p++)
        tcp_port_text((uint16_t)p);
    ipv4_host_text(h1);
    ipv6_host_text(h6);
    relative_sequence_numbers(h1, h2, 4, 40000, 80, TH_ACK, 10, 20);
    g_text.detail[0] = 'x';
    EXPECT_EQ(g_text.pool.blocks, 2);

    text_state_clear();
    EXPECT_EQ(g_text.pool.blocks, 0);
    EXPECT_EQ(g_text.pool.block, nullptr);
    EXPECT_EQ(g_text.pool.left, 0);
    EXPECT_EQ(g_text.pool6.block, nullptr);
    EXPECT_EQ(g_text.relseq_extra, 0);
    for (int b = 0; b < RELSEQ_BUCKETS; b++)
        EXPECT_EQ(g_text.relseq[b].next, nullptr);
    for (int b = 0; b < NAME_BUCKETS; b++) {
        EXPECT_EQ(g_text.port_cache[b].next, nullptr);
        EXPECT_EQ(g_text.ipv4_cache[b].next, nullptr);
        EXPECT_EQ(g_text.ipv6_cache[b].next, nullptr);
    }
    EXPECT_EQ(g_text.detail[0], 0);

    /* The connection is new again: numbers come back as carried. */
    relseq_result r = relative_sequence_numbers(h1, h2, 4, 40000, 80, TH_ACK, 15, 20);
    EXPECT_EQ(r.seq, 15u);
    EXPECT_STREQ(tcp_port_text(7), "7");
    EXPECT_EQ(g_text.pool.blocks, 1);
    text_state_clear();
}

TEST(TextState, ZallocGivesZeroFilledMemory)
{
    unsigned char *p = (unsigned char *)text_zalloc(64);
    for (int i = 0; i < 64; i++)
        EXPECT_EQ(p[i], 0);
    std::free(p);
}

}  // namespace
