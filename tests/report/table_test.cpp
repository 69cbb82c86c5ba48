/*
 * table_test.cpp --
 *
 *	The per-segment CSV of the sample captures, parsed back as RFC 4180
 *	and checked cell by cell against the line list and the records, in
 *	one-file and two-file mode: times give back the very floats, values
 *	that do not exist are empty cells.
 */

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "analysis/class_name.h"
#include "analysis/events.h"
#include "analysis/line.h"
#include "load/loader.h"
#include "report/table.h"
#include "trace/flow.h"
#include "trace/trace.h"
#include "report/report_fixture.h"

namespace {

using row = std::vector<std::string>;

/* Splits RFC 4180 text into rows of fields; rows end with CR LF. */
std::vector<row> parse_csv(const std::string &text)
{
    std::vector<row> rows(1);
    std::string field;
    bool quoted = false;
    for (size_t i = 0; i < text.size(); i++) {
        char c = text[i];
        if (quoted) {
            if (c == '"' && i + 1 < text.size() && text[i + 1] == '"') {
                field += '"';
                i++;
            } else if (c == '"') {
                quoted = false;
            } else {
                field += c;
            }
        } else if (c == '"') {
            quoted = true;
        } else if (c == ',') {
            rows.back().push_back(field);
            field.clear();
        } else if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
            rows.back().push_back(field);
            field.clear();
            rows.emplace_back();
            i++;
        } else {
            field += c;
        }
    }
    if (rows.back().empty())
        rows.pop_back();
    return rows;
}

std::string table_text()
{
    FILE *f = std::tmpfile();
    EXPECT_EQ(write_table(f), 1);
    std::rewind(f);
    std::string text;
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0)
        text.append(buf, n);
    std::fclose(f);
    return text;
}


/* The time cell of a float: parses back to the same float. */
void expect_time(const std::string &cell, float v, const std::string &what)
{
    ASSERT_FALSE(cell.empty()) << what;
    EXPECT_EQ(std::strtof(cell.c_str(), nullptr), v) << what << " " << cell;
}

void expect_sample(const std::string &cell, float v, const std::string &what)
{
    if (v < 0.0f)
        EXPECT_EQ(cell, "") << what;
    else
        expect_time(cell, v, what);
}

/* Every row against line j and record j. */
void check_rows(const std::vector<row> &rows, int two_files)
{
    ASSERT_EQ(rows.size(), static_cast<size_t>(g_trace.main.count) + 1);
    EXPECT_EQ(rows[0].size(), two_files ? 16u : 15u);
    EXPECT_EQ(rows[0].back(), "events");
    EXPECT_EQ(rows[0][0], "index");
    for (int j = 0; j < g_trace.main.count; j++) {
        const row &r = rows[static_cast<size_t>(j) + 1];
        const line_record &l = g_trace.lines[j];
        const seg_record &s = g_trace.main.rec[j];
        std::string at = "row " + std::to_string(j + 1);
        ASSERT_EQ(r.size(), rows[0].size()) << at;
        EXPECT_EQ(r[0], std::to_string(j + 1));
        EXPECT_EQ(r[1], l.dir == 1 ? "L>R" : "R>L") << at;
        EXPECT_EQ(r[2], class_name(l.cls)) << at;
        expect_time(r[3], l.t_send, at + " send");
        expect_time(r[4], l.t_recv, at + " arrival");
        expect_time(r[5], l.delay, at + " delay");
        EXPECT_EQ(r[6], std::to_string(seq_of(s))) << at;
        EXPECT_EQ(r[7], (s.tcp_flags & TH_ACK) ? std::to_string(ack_of(s)) : "") << at;
        EXPECT_EQ(r[8], std::to_string(s.paylen)) << at;
        EXPECT_EQ(r[9], std::to_string(s.win)) << at;
        EXPECT_FALSE(r[10].empty()) << at;
        EXPECT_EQ(r[11], s.acked_by ? std::to_string(s.acked_by + 1) : "") << at;
        expect_sample(r[12], s.ack_time, at + " ack time");
        expect_sample(r[13], s.resp_time, at + " response time");
        if (two_files) {
            EXPECT_EQ(r[14], loader_copy_of(j) >= 0 ? "measured" : "estimated") << at;
        }
        EXPECT_EQ(r.back(), events_kinds_text(events_of(j)->kinds, ';')) << at;
    }
}

using Table = reporttest::loaded;

TEST(TableFields, QuoteOnlyWhatNeedsQuoting)
{
    struct {
        const char *in, *out;
    } rows[] = {{"plain", "plain"}, {"", ""}, {"a,b", "\"a,b\""}, {"say \"hi\"", "\"say \"\"hi\"\"\""},
                {"two\nlines", "\"two\nlines\""}, {"cr\r", "\"cr\r\""},
                {"lost / no copy in peer capture", "lost / no copy in peer capture"}};
    for (const auto &r : rows)
        EXPECT_EQ(csv_field(r.in), r.out) << r.in;
}

TEST_F(Table, OneFileRowsAgreeWithTheLineList)
{
    reporttest::load_samples({"sender.pcap"});
    std::string text = table_text();
    std::vector<row> rows = parse_csv(text);
    check_rows(rows, 0);
    EXPECT_EQ(text.rfind("index,direction,class,send_time,arrival_time,delay,seq,ack,payload,"
                         "window,flags,acked_by,ack_time,response_time,events\r\n", 0), 0u);
    /* The handshake opens the table: SYN, no ack cell; SYN-ACK flags. */
    EXPECT_EQ(rows[1][10], "S");
    EXPECT_EQ(rows[1][7], "");
    EXPECT_EQ(rows[1][1], "R>L");
    EXPECT_EQ(rows[2][10], "S");
}

TEST_F(Table, TwoFileRowsSayWhichFarEndTimesWereMeasured)
{
    reporttest::load_samples({"sender.pcap", "receiver.pcap"});
    std::vector<row> rows = parse_csv(table_text());
    check_rows(rows, 1);
    EXPECT_EQ(rows[0][14], "far_end");
    int measured = 0, estimated = 0;
    for (size_t i = 1; i < rows.size(); i++) {
        if (rows[i][14] == "measured")
            measured++;
        else
            estimated++;
        if (rows[i][14] == "estimated") {
            EXPECT_EQ(rows[i][2], class_name(CLS_LOST)) << "row " << i;
        }
    }
    EXPECT_GT(measured, 400);
    EXPECT_GT(estimated, 0);
}

}  // namespace
