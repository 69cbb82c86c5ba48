/*
 * endpoint_text_test.cpp --
 *
 *	"address:port" of both ends of a record, IPv4 and IPv6, and a text
 *	cut to a small buffer.
 */

#include <gtest/gtest.h>

#include <arpa/inet.h>

#include <cstring>
#include <string>

#include "text/endpoint_text.h"
#include "trace/direction.h"
#include "trace/trace.h"

TEST(EndpointText, BothEndsInBothFamilies)
{
    trace_state_clear();
    seg_record r{};
    set_ports(r, 8080, 38130);
    set_src4(r, 0x0a4d0101u);
    set_dst4(r, 0xc0a80002u);
    char text[64];
    endpoint_text(r, 1, text, sizeof text);
    EXPECT_STREQ(text, "10.77.1.1:8080");
    endpoint_text(r, 0, text, sizeof text);
    EXPECT_STREQ(text, "192.168.0.2:38130");
    endpoint_text(r, 1, text, 8);
    EXPECT_STREQ(text, "10.77.1");

    seg_record s{};
    set_ports(s, 443, 50000);
    uint8_t a[16], b[16];
    ASSERT_EQ(inet_pton(AF_INET6, "2001:db8::1", a), 1);
    ASSERT_EQ(inet_pton(AF_INET6, "fe80::2", b), 1);
    set_src6(s, a);
    set_dst6(s, b);
    g_trace.ipv6 = 1;
    endpoint_text(s, 1, text, sizeof text);
    EXPECT_STREQ(text, "[2001:db8::1]:443");
    endpoint_text(s, 0, text, sizeof text);
    EXPECT_STREQ(text, "[fe80::2]:50000");
    trace_state_clear();
}
