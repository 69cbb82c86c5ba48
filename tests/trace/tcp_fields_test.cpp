/*
 * tcp_fields_test.cpp --
 *
 *	Reading window scale, timestamps and SACK blocks from TCP headers,
 *	malformed and cut option lists included.
 */

#include <gtest/gtest.h>

#include <vector>

#include "trace/tcp_fields.h"

TEST(TcpFields, OptionsReadUpToTheCopyAndTheFirstFault)
{
    struct row {
        std::vector<uint8_t> opts;
        int avail_cut;            /* bytes of the header left out of the copy */
        int wscale, ts, nsack;
    } rows[] = {
        {{1, 3, 3, 7}, 0, 7, 0, 0},
        {{1, 1, 8, 10, 0, 0, 0, 5, 0, 0, 0, 9}, 0, -1, 5, 0},
        {{1, 1, 5, 18, 0, 0, 1, 0, 0, 0, 2, 0, 0, 0, 3, 0, 0, 0, 4, 0}, 0, -1, 0, 2},
        {{1, 1, 5, 18, 0, 0, 1, 0, 0, 0, 2, 0, 0, 0, 3, 0, 0, 0, 4, 0}, 8, -1, 0, 0},
        {{3, 3, 2, 5, 1, 0, 8, 10}, 0, 2, 0, 0},        /* SACK length 1: stop */
        {{0, 3, 3, 7}, 0, -1, 0, 0},                    /* end of list first */
    };
    for (const row &r : rows) {
        std::vector<uint8_t> tcp(20, 0);
        tcp.insert(tcp.end(), r.opts.begin(), r.opts.end());
        while (tcp.size() % 4)
            tcp.push_back(0);
        tcp[12] = static_cast<uint8_t>((tcp.size() / 4) << 4);
        tcp_fields f = parse_tcp_fields(tcp.data(), static_cast<int32_t>(tcp.size()) - r.avail_cut);
        EXPECT_EQ(f.has_wscale ? f.wscale : -1, r.wscale);
        EXPECT_EQ(f.has_ts ? static_cast<int>(f.ts_val) : 0, r.ts);
        EXPECT_EQ(f.nsack, r.nsack);
        if (f.nsack == 2) {
            EXPECT_EQ(f.sack_left[1], 768u);
            EXPECT_EQ(f.sack_right[1], 1024u);
        }
    }
    EXPECT_EQ(parse_tcp_fields(nullptr, 40).nsack, 0);
}
