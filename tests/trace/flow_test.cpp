/*
 * flow_test.cpp --
 *
 *	The flow table and the setters of trace/flow.h: a record reads back
 *	what it was given, the setters keep the rest of its flow, equal entries
 *	share one index, and a full table ends the process. (The decoder's
 *	flow entries are tested with the decoder.)
 */

#include "trace/flow.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <tuple>

#include "trace/direction.h"
#include "trace/trace.h"

namespace {

/* What a record reads back: seq, carried seq, ack, carried ack. */
std::tuple<int64_t, uint32_t, int64_t, uint32_t> numbers(const seg_record &r)
{
    return {seq_of(r), seq_raw_of(r), ack_of(r), ack_raw_of(r)};
}

class FlowTest : public testing::Test {
protected:
    void SetUp() override { trace_state_clear(); }
    void TearDown() override { trace_state_clear(); }
};

TEST_F(FlowTest, SettersKeepTheRestOfTheFlow)
{
    seg_record zero{};
    EXPECT_EQ(sport_of(zero), 0);
    /* A relative number the base cannot give takes another base, with
     * the carried number its low 32 bits; one it can give keeps it. */
    set_seq(zero, -5);
    set_ack(zero, 7);
    EXPECT_EQ(numbers(zero), std::make_tuple(-5LL, 0xfffffffbu, 7LL, 7u));
    uint32_t negative = zero.flow;
    EXPECT_NE(negative, 0u);
    set_seq(zero, -1);
    EXPECT_EQ(seq_raw_of(zero), 0xffffffffu);
    EXPECT_EQ(zero.flow, negative);
    set_seq(zero, (1LL << 40) + 3);
    EXPECT_EQ(std::make_tuple(seq_of(zero), seq_raw_of(zero)), std::make_tuple((1LL << 40) + 3, 3u));
    set_ack(zero, INT64_MAX);
    EXPECT_EQ(ack_of(zero), INT64_MAX);
    EXPECT_EQ(g_trace.flows.count, 3);
    trace_addresses_clear();

    seg_record r{};
    set_src4(r, 0x0a000001);
    set_ports(r, 40000, 80);
    set_dst4(r, 0x0a000002);
    EXPECT_EQ(std::make_tuple(sport_of(r), dport_of(r), src4_of(r), dst4_of(r)),
              std::make_tuple(40000, 80, 0x0a000001u, 0x0a000002u));

    flow_entry f = flow_of(r);
    f.seq_base = 0xfffffff0u;
    f.ack_base = 1000;
    set_flow(r, f);
    uint32_t based = r.flow;
    set_seq_raw(r, 0x10u);
    set_ack_raw(r, 1000);
    EXPECT_EQ(numbers(r), std::make_tuple(0x10 - 0xfffffff0LL, 0x10u, 0LL, 1000u));
    EXPECT_EQ(r.flow, based);
    /* An ack field of 0 reads 0 through an entry with ack base 0. */
    set_ack_raw(r, 0);
    EXPECT_EQ(ack_raw_of(r), 0u);
    EXPECT_EQ(std::make_tuple(flow_of(r).ack_base, flow_of(r).seq_base), std::make_tuple(0u, 0xfffffff0u));
    EXPECT_EQ(sport_of(r), 40000);
    EXPECT_EQ(g_trace.flows.count, 5);   /* one per setter that changed the entry */

    /* Equal entries share one index; emptying the table zeroes them all. */
    seg_record s{};
    set_flow(s, flow_of(r));
    EXPECT_EQ(s.flow, r.flow);
    trace_addresses_clear();
    EXPECT_EQ(sport_of(r), 0);
    EXPECT_EQ(seq_raw_of(r), static_cast<uint32_t>(seq_of(r)));
    EXPECT_EQ(g_trace.flows.count, 0);
}

TEST_F(FlowTest, AFullFlowTableEndsTheProcess)
{
    seg_record r{};
    auto fill = [&r] {
        for (int p = 1; p <= FLOW_TABLE_SIZE; p++)
            set_ports(r, static_cast<uint16_t>(p), static_cast<uint16_t>(p >> 16));
    };
    EXPECT_EXIT(fill(), testing::ExitedWithCode(255), "^wirepaint: too many flows\n$");
}

}  // namespace
