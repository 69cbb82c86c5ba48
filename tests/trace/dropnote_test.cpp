/*
 * dropnote_test.cpp --
 *
 *	Notes on dropped packets: written one by one unless standard output is
 *	taken, a connection is chosen or a filter is set; then counted, and
 *	summed up one line per kind with the digits grouped.
 */

#include "trace/dropnote.h"

#include <gtest/gtest.h>

#include <string>

#include "trace/capfile.h"
#include "trace/connlist.h"

namespace {

class DropnoteTest : public testing::Test {
protected:
    void TearDown() override
    {
        dropnote_reset();
        conn_select_clear();
        g_capfile.filter.clear();
    }
};

}  // namespace

TEST_F(DropnoteTest, QuietOnlyWhenOutputIsTakenOrOneConnectionIsPicked)
{
    struct row {
        int stdout_taken;
        bool chosen;
        const char *filter;
        bool quiet;
    } rows[] = {
        {0, false, "", false},
        {1, false, "", true},
        {0, true, "", true},
        {0, false, "port 80", true},
    };
    for (const row &r : rows) {
        dropnote_reset();
        conn_select_clear();
        g_dropnote.stdout_taken = r.stdout_taken;
        if (r.chosen)
            conn_select_set("a.pcap", conn_ends{});
        conn_select_begin("a.pcap");
        g_capfile.filter = r.filter;
        dropnote_begin_file();
        testing::internal::CaptureStdout();
        drop_note(DROP_OTHER_CONNECTION, "Warning: address unmatch");
        drop_mark(DROP_BAD_OPTIONS, "[bad opt]");
        std::string out = testing::internal::GetCapturedStdout();
        EXPECT_EQ(out, r.quiet ? "" : "Warning: address unmatch\n[bad opt]") << r.filter;
        EXPECT_EQ(dropnote_summary(),
                  r.quiet ? "1 packet of other connections skipped\n"
                            "1 segment with malformed TCP options\n"
                          : "");
    }
    /* Digits grouped by three. */
    dropnote_reset_counts();
    g_dropnote.count[DROP_NOT_TCP] = 999;
    g_dropnote.count[DROP_OTHER_CONNECTION] = 158954;
    g_dropnote.count[DROP_TRUNCATED] = 2599948;
    EXPECT_EQ(dropnote_summary(), "999 packets not TCP skipped\n"
                                  "158,954 packets of other connections skipped\n"
                                  "2,599,948 truncated packets skipped\n");
}
