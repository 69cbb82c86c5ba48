/*
 * direction_test.cpp --
 *
 *	Tests of the address accessors and the one direction test: a record
 *	reads back the addresses it was given, and the direction test lets
 *	addresses decide, with the ports joining in only for a connection
 *	whose two ends share one address.
 */

#include "trace/direction.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

class DirectionTest : public ::testing::Test {
protected:
    void SetUp() override { trace_state_clear(); }
    void TearDown() override { trace_state_clear(); }
};

seg_record v4(uint64_t src, uint16_t sport, uint64_t dst, uint16_t dport)
{
    seg_record r;
    std::memset(&r, 0, sizeof r);
    set_src4(r, src);
    set_dst4(r, dst);
    set_ports(r, sport, dport);
    return r;
}

const uint8_t zero16[16] = {};

TEST_F(DirectionTest, RecordsReadBackTheAddressesTheyWereGiven)
{
    seg_record zero{};
    EXPECT_EQ(src4_of(zero), 0u);
    EXPECT_EQ(std::memcmp(dst6_of(zero), zero16, 16), 0);

    seg_record a = v4(0x0a000001, 1, 0x0a000002, 2);
    EXPECT_EQ(src4_of(a), 0x0a000001u);
    EXPECT_EQ(dst4_of(a), 0x0a000002u);
    EXPECT_EQ(std::memcmp(src6_of(a), zero16, 16), 0);

    /* Setting one form keeps the other, as a field of its own would. */
    uint8_t six[16] = {0x20, 0x01, 0x0d, 0xb8};
    six[15] = 7;
    set_src6(a, six);
    EXPECT_EQ(src4_of(a), 0x0a000001u);
    EXPECT_EQ(std::memcmp(src6_of(a), six, 16), 0);
    set_dst6(a, six);
    EXPECT_EQ(dst4_of(a), 0x0a000002u);

    /* Equal addresses share one table entry; the zero address is entry 0. */
    seg_record b = v4(0x0a000002, 3, 0x0a000001, 4);
    seg_record c = v4(0x0a000001, 5, 0, 6);
    EXPECT_EQ(src_index_of(b), src_index_of(v4(0x0a000002, 0, 0, 0)));
    EXPECT_EQ(dst_index_of(c), 0);
    EXPECT_EQ(g_trace.addrs.count, 4);   /* .1, .2, .1 with six, .2 with six */

    ip_address s{}, d{};
    s.a4 = 9;
    d.a4 = 10;
    set_addresses(c, s, d);
    EXPECT_EQ(std::memcmp(&source_address(c), &s, sizeof s), 0);
    EXPECT_EQ(std::memcmp(&destination_address(c), &d, sizeof d), 0);

    /* Emptying the table leaves every record with zero addresses. */
    trace_addresses_clear();
    EXPECT_EQ(src4_of(c), 0u);
    EXPECT_EQ(g_trace.addrs.count, 0);
}

TEST_F(DirectionTest, AFullAddressTableEndsTheProcess)
{
    EXPECT_EXIT(
        {
            seg_record r{};
            for (uint64_t a = 1; a <= ADDRESS_TABLE_SIZE; a++)
                set_src4(r, a);
        },
        testing::ExitedWithCode(255), "^wirepaint: too many addresses\n$");
}

TEST_F(DirectionTest, DistinctHostsCompareAddressesOnly)
{
    seg_record a = v4(0x0a000001, 40000, 0x0a000002, 80);
    seg_record b = v4(0x0a000001, 40001, 0x0a000002, 81);   /* other ports */
    seg_record back = v4(0x0a000002, 80, 0x0a000001, 40000);
    EXPECT_TRUE(same_direction(a, b));
    EXPECT_FALSE(same_direction(a, back));
    EXPECT_TRUE(addressed_to_source(back, a));
    EXPECT_TRUE(addressed_to_source(v4(0x0a000002, 9, 0x0a000001, 9), a));
    EXPECT_FALSE(addressed_to_source(b, a));
    EXPECT_TRUE(sent_by(b, source_of(a)));
    EXPECT_TRUE(sent_to(back, source_of(a)));
}

TEST_F(DirectionTest, SameAddressConnectionComparesPortsToo)
{
    seg_record a = v4(0x7f000001, 40000, 0x7f000001, 80);
    seg_record a2 = v4(0x7f000001, 40000, 0x7f000001, 80);
    seg_record back = v4(0x7f000001, 80, 0x7f000001, 40000);
    EXPECT_TRUE(same_address_connection(a));
    EXPECT_TRUE(same_direction(a, a2));
    EXPECT_FALSE(same_direction(a, back));
    EXPECT_TRUE(addressed_to_source(back, a));
    EXPECT_FALSE(addressed_to_source(a2, a));
    EXPECT_TRUE(sent_by(back, source_of(back)));
    EXPECT_FALSE(sent_by(a, source_of(back)));
    EXPECT_TRUE(sent_to(a, source_of(back)));
}

TEST_F(DirectionTest, IPv6AddressesCompareAllSixteenBytes)
{
    seg_record a = v4(0, 1, 0, 2);
    seg_record b = a;
    uint8_t six[16] = {};
    six[15] = 1;
    set_src6(a, six);
    set_src6(b, six);
    six[15] = 2;
    set_dst6(a, six);
    six[15] = 1;
    six[0] = 0x20;
    set_src6(b, six);
    EXPECT_FALSE(same_direction(a, b));
    EXPECT_FALSE(sent_by(b, source_of(a)));
    six[0] = 0;
    set_src6(b, six);
    EXPECT_TRUE(same_direction(a, b));
    EXPECT_TRUE(sent_by(b, source_of(a)));
}

}  // namespace
