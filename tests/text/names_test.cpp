/*
 * names_test.cpp --
 *
 *	The name caches: numeric texts for IPv4 and IPv6 addresses and ports,
 *	made once and returned as the same object ever after, chains of keys
 *	that share a bucket, and the entry pools' blocks of 64 slots.
 */

#include "text/names.h"

#include <gtest/gtest.h>

#include <string>

#include "text/text_state.h"

namespace {

class NamesTest : public ::testing::Test {
protected:
    void SetUp() override { text_state_clear(); }
    void TearDown() override { text_state_clear(); }
};

const uint8_t a_10_0_0_1[4] = {10, 0, 0, 1};
const uint8_t a_10_0_0_2[4] = {10, 0, 0, 2};
const uint8_t a_10_16_0_1[4] = {10, 16, 0, 1};

TEST_F(NamesTest, DottedQuadTextsHaveNoLeadingZeros)
{
    const uint8_t zero[4] = {0, 0, 0, 0};
    const uint8_t ones[4] = {255, 255, 255, 255};
    const uint8_t mixed[4] = {192, 8, 100, 7};
    EXPECT_STREQ(dotted_quad_text(a_10_0_0_1), "10.0.0.1");
    EXPECT_STREQ(dotted_quad_text(zero), "0.0.0.0");
    EXPECT_STREQ(dotted_quad_text(ones), "255.255.255.255");
    EXPECT_STREQ(dotted_quad_text(mixed), "192.8.100.7");
}

TEST_F(NamesTest, DottedQuadTextIsOverwrittenByNextCall)
{
    const char *first = dotted_quad_text(a_10_0_0_1);
    std::string kept = first;
    dotted_quad_text(a_10_16_0_1);
    EXPECT_EQ(kept, "10.0.0.1");
    EXPECT_STRNE(first, "10.0.0.1");   /* the one buffer now holds the second text */
}

TEST_F(NamesTest, Ipv4AddressesSharingABucketKeepTheirOwnTexts)
{
    const char *t1 = ipv4_host_text(a_10_0_0_1);
    const char *t2 = ipv4_host_text(a_10_0_0_2);
    const char *t3 = ipv4_host_text(a_10_16_0_1);
    EXPECT_STREQ(t1, "10.0.0.1");
    EXPECT_STREQ(t2, "10.0.0.2");
    EXPECT_STREQ(t3, "10.16.0.1");

    /* All three hash to bucket 10, in the order they were first met. */
    const name_entry &b = g_text.ipv4_cache[10];
    ASSERT_NE(b.next, nullptr);
    EXPECT_EQ(b.text, t1);
    EXPECT_EQ(b.next->text, t2);
    ASSERT_NE(b.next->next, nullptr);
    EXPECT_EQ(b.next->next->text, t3);
    ASSERT_NE(b.next->next->next, nullptr);
    EXPECT_EQ(b.next->next->next->next, nullptr);

    /* Later lookups give the very same objects. */
    EXPECT_EQ(ipv4_host_text(a_10_0_0_2), t2);
    EXPECT_EQ(ipv4_host_text(a_10_0_0_1), t1);
    EXPECT_EQ(ipv4_host_text(a_10_16_0_1), t3);
    EXPECT_EQ(g_text.pool.left, 61);
}

TEST_F(NamesTest, PortsSharingABucketKeepTheirOwnTexts)
{
    const char *t80 = tcp_port_text(80);
    const char *t4176 = tcp_port_text(4176);
    EXPECT_STREQ(t80, "80");
    EXPECT_STREQ(t4176, "4176");
    EXPECT_EQ(g_text.port_cache[80].text, t80);
    ASSERT_NE(g_text.port_cache[80].next, nullptr);
    EXPECT_EQ(g_text.port_cache[80].next->text, t4176);
    EXPECT_EQ(tcp_port_text(80), t80);
    EXPECT_EQ(tcp_port_text(4176), t4176);
    EXPECT_STREQ(tcp_port_text(0), "0");
    EXPECT_STREQ(tcp_port_text(65535), "65535");
}

TEST_F(NamesTest, SixtyFifthEntryStartsSecondPoolBlockWhicheverCacheTakesIt)
{
    /* 40 addresses and 24 ports: 64 entries from the shared pool. */
    for (int i = 0; i < 40; i++) {
        uint8_t a[4] = {192, 168, 1, (uint8_t)i};
        ipv4_host_text(a);
    }
    for (int p = 0; p < 24; p++)
        tcp_port_text((uint16_t)(1000 + p));
    EXPECT_EQ(g_text.pool.blocks, 1);
    EXPECT_EQ(g_text.pool.left, 0);

    const char *t = tcp_port_text(2000);
    EXPECT_STREQ(t, "2000");
    EXPECT_EQ(g_text.pool.blocks, 2);
    EXPECT_EQ(g_text.pool.left, 63);
    EXPECT_EQ(g_text.pool6.blocks, 0);

    /* Every earlier text is unchanged. */
    uint8_t a[4] = {192, 168, 1, 39};
    EXPECT_STREQ(ipv4_host_text(a), "192.168.1.39");
    EXPECT_STREQ(tcp_port_text(1023), "1023");
    EXPECT_EQ(g_text.pool.blocks, 2);
}

TEST_F(NamesTest, SixtyFifthEntryOfIpv4CacheAlsoStartsSecondBlock)
{
    for (int p = 0; p < 64; p++)
        tcp_port_text((uint16_t)p);
    EXPECT_EQ(g_text.pool.blocks, 1);
    ipv4_host_text(a_10_0_0_1);
    EXPECT_EQ(g_text.pool.blocks, 2);
    EXPECT_EQ(g_text.pool.left, 63);
}

TEST_F(NamesTest, Ipv6TextsComeFromInetNtop)
{
    const uint8_t doc1[16] = {0x20, 0x01, 0x0d, 0xb8, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1};
    const uint8_t loop[16] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1};
    const uint8_t mapped[16] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xff, 0xff, 10, 0, 0, 1};
    const uint8_t full[16] = {0xfe, 0x80, 0, 0, 0, 0, 0, 0, 0x02, 0x1b, 0x21, 0xff,
                              0xfe, 0xaa, 0xbb, 0xcc};
    EXPECT_STREQ(ipv6_host_text(doc1), "2001:db8::1");
    EXPECT_STREQ(ipv6_host_text(loop), "::1");
    EXPECT_STREQ(ipv6_host_text(mapped), "::ffff:10.0.0.1");
    EXPECT_STREQ(ipv6_host_text(full), "fe80::21b:21ff:feaa:bbcc");

    /* doc1, loop and mapped end in 00 01: one bucket, three entries. */
    const name6_entry &b = g_text.ipv6_cache[256];
    ASSERT_NE(b.next, nullptr);
    EXPECT_STREQ(b.text, "2001:db8::1");
    EXPECT_STREQ(b.next->text, "::1");
    EXPECT_STREQ(b.next->next->text, "::ffff:10.0.0.1");
    EXPECT_EQ(ipv6_host_text(loop), b.next->text);
    EXPECT_EQ(g_text.pool6.blocks, 1);
    EXPECT_EQ(g_text.pool6.left, 60);
    EXPECT_EQ(g_text.pool.blocks, 0);
}

}  // namespace
