/*
 * relseq_test.cpp --
 *
 *	Relative sequence numbering: the bases fixed by a connection's first
 *	segment with ACK and again by every SYN-ACK, the endpoint order that
 *	makes both directions share one entry, shared buckets, and arithmetic
 *	modulo 2^32.
 */

#include "text/relseq.h"

#include <gtest/gtest.h>

#include "text/text_state.h"
#include "trace/trace.h"

namespace {

const uint8_t host1[4] = {10, 0, 0, 1};
const uint8_t host2[4] = {10, 0, 0, 2};
const uint8_t host1_v6[16] = {0x20, 0x01, 0x0d, 0xb8, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1};
const uint8_t host2_v6[16] = {0x20, 0x01, 0x0d, 0xb8, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2};

const uint8_t SYN_ACK = TH_SYN | TH_ACK;
const uint8_t ACK = TH_ACK;

class RelseqTest : public ::testing::Test {
protected:
    void SetUp() override { text_state_clear(); }
    void TearDown() override { text_state_clear(); }
};

/* From 10.0.0.2:80 to 10.0.0.1:40000 (the server side). */
relseq_result from_server(uint8_t flags, uint32_t seq, uint32_t ack)
{
    return relative_sequence_numbers(host2, host1, 4, 80, 40000, flags, seq, ack);
}

/* From 10.0.0.1:40000 to 10.0.0.2:80 (the client side). */
relseq_result from_client(uint8_t flags, uint32_t seq, uint32_t ack)
{
    return relative_sequence_numbers(host1, host2, 4, 40000, 80, flags, seq, ack);
}

TEST_F(RelseqTest, SynAckFixesBasesAndAnswerCountsFromThem)
{
    relseq_result r = from_server(SYN_ACK, 5000, 1001);
    EXPECT_EQ(r.seq, 5000u);
    EXPECT_EQ(r.ack, 1001u);
    EXPECT_EQ(r.sack_base, 1000u);

    r = from_client(ACK, 1001, 5001);
    EXPECT_EQ(r.seq, 1u);
    EXPECT_EQ(r.ack, 1u);
    EXPECT_EQ(r.sack_base, 5000u);

    r = from_server(ACK, 5001, 1101);
    EXPECT_EQ(r.seq, 1u);
    EXPECT_EQ(r.ack, 101u);
    EXPECT_EQ(r.sack_base, 1000u);   /* a block 1201-1301 reads {201:301} */

    /* Both directions live in one entry, keyed by the lower port first. */
    const relseq_slot &bucket = g_text.relseq[(80u * 65536u + 40000u) % RELSEQ_BUCKETS];
    ASSERT_NE(bucket.next, nullptr);
    EXPECT_EQ(bucket.next->next, nullptr);
    EXPECT_EQ(bucket.key.port_pair, 80u * 65536u + 40000u);
    EXPECT_EQ(bucket.key.first_addr[3], 2);
    EXPECT_EQ(bucket.key.second_addr[3], 1);
    EXPECT_EQ(bucket.first_base, 5000u);
    EXPECT_EQ(bucket.second_base, 1000u);
    EXPECT_EQ(g_text.relseq_extra, 1);
}

TEST_F(RelseqTest, MidConnectionFirstSegmentAsCarriedThenZeroAndOne)
{
    relseq_result r = from_client(ACK, 70000, 90000);
    EXPECT_EQ(r.seq, 70000u);
    EXPECT_EQ(r.ack, 90000u);
    r = from_client(ACK, 70000, 90000);
    EXPECT_EQ(r.seq, 0u);
    EXPECT_EQ(r.ack, 1u);
}

TEST_F(RelseqTest, SecondSynAckResetsTheBases)
{
    from_server(SYN_ACK, 5000, 1001);
    EXPECT_EQ(from_client(ACK, 1101, 5001).seq, 101u);

    relseq_result r = from_server(SYN_ACK, 80000, 20001);
    EXPECT_EQ(r.seq, 80000u);
    EXPECT_EQ(r.ack, 20001u);
    r = from_client(ACK, 20001, 80001);
    EXPECT_EQ(r.seq, 1u);
    EXPECT_EQ(r.ack, 1u);
    EXPECT_EQ(g_text.relseq_extra, 1);
}

TEST_F(RelseqTest, SequenceBelowBaseWraps)
{
    from_server(SYN_ACK, 5000, 1001);
    EXPECT_EQ(from_server(ACK, 4995, 1001).seq, 4294967291u);
}

TEST_F(RelseqTest, EqualPortsPutLowerAddressFirst)
{
    /* From the higher address: reversed, so its sequence number sets the
     * second base. */
    relseq_result r = relative_sequence_numbers(host2, host1, 4, 179, 179, ACK, 300, 101);
    EXPECT_EQ(r.sack_base, 100u);
    const relseq_slot &bucket = g_text.relseq[(179u * 65536u + 179u) % RELSEQ_BUCKETS];
    EXPECT_EQ(bucket.key.first_addr[3], 1);
    EXPECT_EQ(bucket.first_base, 100u);
    EXPECT_EQ(bucket.second_base, 300u);
    r = relative_sequence_numbers(host1, host2, 4, 179, 179, ACK, 111, 310);
    EXPECT_EQ(r.seq, 11u);
    EXPECT_EQ(r.ack, 10u);
}

TEST_F(RelseqTest, IdenticalEndpointsAreNotReversed)
{
    relative_sequence_numbers(host1, host1, 4, 5000, 5000, ACK, 700, 801);
    const relseq_slot &bucket = g_text.relseq[(5000u * 65536u + 5000u) % RELSEQ_BUCKETS];
    EXPECT_EQ(bucket.first_base, 700u);
    EXPECT_EQ(bucket.second_base, 800u);
}

TEST_F(RelseqTest, PortPairsDifferingBy919ShareABucketWithSeparateEntries)
{
    from_server(SYN_ACK, 5000, 1001);
    relative_sequence_numbers(host2, host1, 4, 80, 40000 + 919, SYN_ACK, 9000, 3001);
    const relseq_slot &bucket = g_text.relseq[(80u * 65536u + 40000u) % RELSEQ_BUCKETS];
    ASSERT_NE(bucket.next, nullptr);
    ASSERT_NE(bucket.next->next, nullptr);
    EXPECT_EQ(bucket.next->key.port_pair, 80u * 65536u + 40919u);
    EXPECT_EQ(bucket.next->next->next, nullptr);

    EXPECT_EQ(from_client(ACK, 1001, 5001).seq, 1u);
    relseq_result r = relative_sequence_numbers(host1, host2, 4, 40919, 80, ACK, 3011, 9021);
    EXPECT_EQ(r.seq, 11u);
    EXPECT_EQ(r.ack, 21u);
}

TEST_F(RelseqTest, Ipv6AddressesKeyWholeSixteenBytes)
{
    relative_sequence_numbers(host1_v6, host2_v6, 16, 40000, 80, ACK, 10, 20);
    relseq_result r = relative_sequence_numbers(host1_v6, host2_v6, 16, 40000, 80, ACK, 15, 20);
    EXPECT_EQ(r.seq, 5u);
    /* The IPv4 connection with the same ports is another entry. */
    r = from_client(ACK, 15, 20);
    EXPECT_EQ(r.seq, 15u);
    EXPECT_EQ(g_text.relseq_extra, 2);
}

}  // namespace
