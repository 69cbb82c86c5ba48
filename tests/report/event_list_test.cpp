/*
 * event_list_test.cpp --
 *
 *	The -E list of real captures read back: one line per event, in
 *	segment order, each naming a segment whose events column in the -x
 *	table holds that kind, with the table's direction; a duplicate ACK
 *	names an earlier ACK of its direction with the same acknowledgement,
 *	a stall an earlier segment of its direction, its length from the two
 *	capture times.
 */

#include <gtest/gtest.h>

#include <cstdio>
#include <sstream>
#include <string>

#include "analysis/events.h"
#include "analysis/line.h"
#include "report/event_list.h"
#include "trace/flow.h"
#include "trace/trace.h"
#include "report/report_fixture.h"

namespace {

using EventList = reporttest::loaded;

TEST_F(EventList, LinesAgreeWithTheEventsOfEachSegment)
{
    for (const char *capture : {"bulk-loss-sender.pcap", "slow-reader.pcap", "timeout.pcap"}) {
        reporttest::load_samples({capture});
        FILE *f = std::tmpfile();
        ASSERT_EQ(write_event_list(f), 1);
        std::rewind(f);
        std::string text;
        for (int c; (c = std::fgetc(f)) != EOF;)
            text += static_cast<char>(c);
        std::fclose(f);
        std::istringstream in(text);
        std::string header;
        std::getline(in, header);
        EXPECT_EQ(header, "index time direction kind detail");
        int n = 0, last = 0, lines = 0;
        double time;
        std::string dir, kind, detail;
        const seg_record *rec = g_trace.main.rec;
        while (in >> n >> time >> dir >> kind >> detail) {
            lines++;
            SCOPED_TRACE(std::string(capture) + " segment " + std::to_string(n));
            ASSERT_GE(n, last);
            last = n;
            const seg_events &e = *events_of(n - 1);
            EXPECT_NE(("\n" + events_kinds_text(e.kinds, '\n') + "\n").find("\n" + kind + "\n"),
                      std::string::npos);
            EXPECT_EQ(dir, g_trace.lines[n - 1].dir == 1 ? "L>R" : "R>L");
            EXPECT_NEAR(time, rec[n - 1].time, 1e-6);
            int num = 0, of = 0;
            double len = 0;
            char cause[32] = "";
            if (kind == "duplicate_ack") {
                ASSERT_EQ(std::sscanf(detail.c_str(), "#%d,of=%d", &num, &of), 2) << detail;
                EXPECT_TRUE(of < n && num >= 1 && ack_raw_of(rec[of - 1]) == ack_raw_of(rec[n - 1]));
                EXPECT_EQ(g_trace.lines[of - 1].dir, g_trace.lines[n - 1].dir);
            } else if (kind == "stall") {
                ASSERT_EQ(std::sscanf(detail.c_str(), "%lfs,%31s", &len, cause), 2) << detail;
                EXPECT_NEAR(len, rec[n - 1].time - rec[e.ref].time, 1e-6);
                EXPECT_GE(len, 0.2);
                EXPECT_STREQ(cause, stall_cause_names[e.cause]);
            } else {
                EXPECT_EQ(detail, "-");
            }
        }
        int bits = 0;
        for (const seg_event_bits &s : g_events.seg)
            bits += __builtin_popcount(s.kinds);
        EXPECT_EQ(lines, bits) << capture;
    }
}

}  // namespace
