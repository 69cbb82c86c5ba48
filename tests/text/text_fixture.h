/*
 * text_fixture.h --
 *
 *	Shared set-up of the segment text tests: installs packet bytes as the
 *	main trace's records and lines, the way the decoder and the analysis
 *	leave them (each record with a copy of exactly copy-length bytes,
 *	zero past the packet data), and resets the trace and text state
 *	around every test. Each copy is a heap block of its own rather than a
 *	part of a copy block, so that the sanitizer build catches a read past
 *	any one copy; the fixture owns them.
 */

#ifndef WIREPAINT_TESTS_TEXT_FIXTURE_H
#define WIREPAINT_TESTS_TEXT_FIXTURE_H

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "analysis/line.h"
#include "support/pcapgen.h"
#include "text/text_state.h"
#include "trace/trace.h"

namespace text_fixture {

using pcapgen::bytes;

/*
 * Makes `pkts` the main trace with copies of `copy_len` bytes, and a line
 * per record. A packet longer than the copy is cut; `data_len`, when >= 0,
 * cuts the packet data shorter still (a short snapshot), the rest of the
 * copy being fill.
 */
inline void install(const std::vector<bytes> &pkts, int copy_len, int ipv6, int data_len = -1)
{
    trace_state_clear();
    g_trace.copy_len = copy_len;
    g_trace.ipv6 = ipv6;
    int32_t n = (int32_t)pkts.size();
    g_trace.main.rec = (seg_record *)std::calloc((size_t)n, sizeof(seg_record));
    g_trace.main.count = n;
    g_trace.main.cap = n;
    g_trace.lines = (line_record *)std::calloc((size_t)n, sizeof(line_record));
    for (int32_t i = 0; i < n; i++) {
        size_t have = pkts[i].size() < (size_t)copy_len ? pkts[i].size() : (size_t)copy_len;
        if (data_len >= 0 && (size_t)data_len < have)
            have = (size_t)data_len;
        uint8_t *copy = trace_new_copy(&g_trace.main, (size_t)copy_len, (int32_t)have);
        std::memcpy(copy, pkts[i].data(), have);
    }
}

/* One packet as the whole main trace, in a copy longer than the packet. */
inline void install_one(const bytes &pkt, int ipv6 = 0)
{
    install({pkt}, (int)pkt.size() + 14, ipv6);
}

/* Resets the trace and the text state before and after every test. */
class TextTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        trace_state_clear();
        text_state_clear();
    }
    void TearDown() override
    {
        trace_state_clear();
        text_state_clear();
    }
};

}  // namespace text_fixture

#endif
