/*
 * health_view_test.cpp --
 *
 *	The Connections dialog's order and filter, read back from the cells
 *	the dialog shows: every column sorted either way is in order by the
 *	value shown (ties by number), and a filter keeps exactly the rows
 *	whose ends or verdict hold the text, in the same order.
 */

#include "report/health_view.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <string>
#include <vector>

#include "support/pcapgen.h"

namespace {

/* A gen_many capture of 400 connections, a few of each kind of trouble,
 * then the sample with three connections appended as rows. */
std::vector<health_row> rows_to_sort()
{
    std::string path = pcapgen::temp_path("many.pcap");
    std::string cmd = std::string(WIREPAINT_BINARY_DIR "/gen_many") + " -n 400 -l 5 -z 5 -p 5 " +
                      path + " " + pcapgen::temp_path("many.txt");
    EXPECT_EQ(std::system(cmd.c_str()), 0);
    std::vector<health_row> rows = health_table(path.c_str());
    std::vector<health_row> more =
        health_table(WIREPAINT_SOURCE_DIR "/examples/loopback-any.pcap");
    rows.insert(rows.end(), more.begin(), more.end());
    return rows;
}

/* The key of a shown cell: numbers by value ("-" least), ends by address
 * bytes then port, the verdict by its rank, the cause and the reason as
 * texts ("-" least). */
struct key {
    double number = 0;
    std::string text;
    bool operator<(const key &o) const { return number != o.number ? number < o.number : text < o.text; }
    bool operator==(const key &o) const { return number == o.number && text == o.text; }
};

key key_of(const std::string &column, const std::string &cell)
{
    key k;
    if (column == "verdict") {
        k.number = std::find(verdict_names, verdict_names + VERDICTS, cell) - verdict_names;
    } else if (column == "from" || column == "to") {
        size_t colon = cell.rfind(':');
        unsigned char a[4];
        EXPECT_EQ(inet_pton(AF_INET, cell.substr(0, colon).c_str(), a), 1) << cell;
        k.text = std::string(reinterpret_cast<char *>(a), 4);
        k.number = std::atoi(cell.c_str() + colon + 1);
    } else if (column == "cause" || column == "reason") {
        k.text = cell == "-" ? "" : cell;
    } else {
        k.number = cell == "-" ? -1.0 : std::atof(cell.c_str());
    }
    return k;
}

std::string lower(std::string s)
{
    for (char &c : s)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

TEST(HealthView, EveryColumnSortsEitherWayByTheValueShown)
{
    health_view v;
    health_view_set(&v, rows_to_sort());
    ASSERT_EQ(v.shown.size(), 403u);
    /* The opening order: worst verdict first. */
    EXPECT_EQ(health_cells(v.rows[v.shown[0]], v.shown[0] + 1)[1], "stalled");
    EXPECT_EQ(health_cells(v.rows[v.shown.back()], v.shown.back() + 1)[1], "ok");
    for (int c = 0; c < health_cell_count; c++) {
        for (bool down : {false, true}) {
            health_view_sort(&v, c, down);
            ASSERT_EQ(v.shown.size(), v.rows.size());
            std::string column = health_cell_names[c];
            for (size_t i = 1; i < v.shown.size(); i++) {
                int32_t a = v.shown[i - 1], b = v.shown[i];
                key ka = key_of(column, health_cells(v.rows[a], a + 1)[c]);
                key kb = key_of(column, health_cells(v.rows[b], b + 1)[c]);
                if (column == "#")
                    ka.number = a, kb.number = b;
                bool in_order = down ? !(ka < kb) : !(kb < ka);
                ASSERT_TRUE(in_order) << column << (down ? " down" : " up") << " at " << i;
                /* Columns shown exactly: equal cells are a tie. */
                bool exact = (column.find_first_of("<>") != std::string::npos &&
                              column.compare(0, 4, "gput") != 0) ||
                             column == "verdict" || column == "to" || column == "cause" ||
                             column == "reason";
                if (exact && ka == kb) {
                    ASSERT_LT(a, b) << column << " ties by number at " << i;
                }
            }
        }
    }
}

TEST(HealthView, FilterKeepsTheRowsHoldingTheTextInOrder)
{
    health_view v;
    health_view_set(&v, rows_to_sort());
    health_view_sort(&v, 11, true);  /* retr>, largest first */
    std::vector<int32_t> all = v.shown;
    for (const char *text : {"stalled", "LOSS", "10.1.0.1", ":80", "127.0.0.1:45123", "zzz", ""}) {
        health_view_filter(&v, text);
        std::vector<int32_t> want;
        for (int32_t i : all) {
            const health_row &r = v.rows[static_cast<size_t>(i)];
            std::string line = conn_end_text(r.conn.ends, 0) + " " +
                               conn_end_text(r.conn.ends, 1) + " " +
                               verdict_names[r.health.verdict];
            if (lower(line).find(lower(text)) != std::string::npos)
                want.push_back(i);
        }
        EXPECT_EQ(v.shown, want) << text;
    }
    health_view_filter(&v, "stalled");
    EXPECT_EQ(v.shown.size(), 5u);
    health_view_sort(&v, 0, false);  /* a new order keeps the filter */
    EXPECT_EQ(v.shown.size(), 5u);
    EXPECT_TRUE(std::is_sorted(v.shown.begin(), v.shown.end()));
}

}  // namespace
