/*
 * problems_test.cpp --
 *
 *	The Problems window's data on the timeout capture: the rows count
 *	every kind found, severity as documented; the search for the next
 *	and previous event walks every segment of a set in order, both ways,
 *	and stops at the ends; the status text names the events in the set.
 */

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "analysis/events.h"
#include "report/problems.h"
#include "trace/trace.h"
#include "report/report_fixture.h"

namespace {

using Problems = reporttest::loaded;

TEST_F(Problems, RowsCountTheKindsAndTheSearchWalksEverySegmentOfASet)
{
    EXPECT_TRUE(problem_rows().empty());
    EXPECT_EQ(find_event(0, 1, event_mask_named("any")), 0);
    reporttest::load_samples({"timeout.pcap"});
    int32_t count = g_trace.main.count;
    for (const problem_row &r : problem_rows())
        EXPECT_EQ(r.warning, r.kind == EV_RETRANSMISSION || r.kind == EV_TIMEOUT_RETRANSMISSION ||
                                 r.kind == EV_STALL) << event_kind_names[r.kind];
    EXPECT_EQ(event_mask_named("nonsense"), 0);
    for (const char *name : {"warning", "stall", "duplicate_ack", "any"}) {
        uint16_t mask = event_mask_named(name);
        std::vector<int32_t> want, forward, backward;
        for (int32_t i = 0; i < count; i++)
            if (g_events.seg[static_cast<size_t>(i)].kinds & mask)
                want.push_back(i + 1);
        for (int32_t n = find_event(0, 1, mask); n != 0; n = find_event(n, 1, mask))
            forward.push_back(n);
        for (int32_t n = find_event(count + 1, -1, mask); n != 0; n = find_event(n, -1, mask))
            backward.insert(backward.begin(), n);
        EXPECT_EQ(forward, want) << name;
        EXPECT_EQ(backward, want) << name;
        ASSERT_FALSE(want.empty()) << name;
    }
    EXPECT_EQ(event_line_text(118, event_mask_named("warning")),
              "Segment 118: retransmission; timeout_retransmission; stall 0.233210s,timeout");
    EXPECT_EQ(event_line_text(118, event_mask_named("stall")), "Segment 118: stall 0.233210s,timeout");
    EXPECT_EQ(event_line_text(1, event_mask_named("any")), "");
}

}  // namespace
