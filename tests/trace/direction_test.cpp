/*
 * direction_test.cpp --
 *
 *	Tests of the one direction test: addresses decide, and ports join in
 *	only for a connection whose two ends share one address.
 */

#include "trace/direction.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

seg_record v4(uint64_t src, uint16_t sport, uint64_t dst, uint16_t dport)
{
    seg_record r;
    std::memset(&r, 0, sizeof r);
    r.src4 = src;
    r.dst4 = dst;
    r.sport = sport;
    r.dport = dport;
    return r;
}

}  // namespace

TEST(DirectionTest, DistinctHostsCompareAddressesOnly)
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

TEST(DirectionTest, SameAddressConnectionComparesPortsToo)
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

TEST(DirectionTest, IPv6AddressesCompareAllSixteenBytes)
{
    seg_record a = v4(0, 1, 0, 2);
    seg_record b = a;
    a.src6[15] = 1;
    a.dst6[15] = 2;
    b.src6[15] = 1;
    b.src6[0] = 0x20;
    EXPECT_FALSE(same_direction(a, b));
    b.src6[0] = 0;
    EXPECT_TRUE(same_direction(a, b));
}
