/*
 * cmdline_conn_test.cpp --
 *
 *	The connection options of the command line, -L, -c and -f, and a
 *	file cut short, run through the real binary: without a display where
 *	the program ends before the window, on a private Xvfb with a
 *	recording script where the connection drawn is checked.
 */

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "support/pcapgen.h"
#include "ui/ui_harness.h"

namespace {

const std::string examples = std::string(WIREPAINT_SOURCE_DIR) + "/examples/";

using uitest::run_headless;

/* The lines of `text` that do not begin with "#". */
std::vector<std::string> rows_of(const std::string &text)
{
    std::vector<std::string> rows;
    size_t start = 0;
    for (size_t nl; (nl = text.find('\n', start)) != std::string::npos; start = nl + 1) {
        std::string line = text.substr(start, nl - start);
        if (!line.empty() && line[0] != '#')
            rows.push_back(line);
    }
    return rows;
}

/* The blank-separated fields of a table line. */
std::vector<std::string> fields_of(const std::string &line)
{
    std::vector<std::string> f;
    size_t i = 0;
    while (i < line.size()) {
        size_t j = line.find(' ', i);
        if (j == std::string::npos)
            j = line.size();
        if (j > i)
            f.push_back(line.substr(i, j - i));
        i = j + 1;
    }
    return f;
}

TEST(ConnectionOptions, ListPrintsEachFilesTableAndExitsZero)
{
    struct row {
        std::vector<std::string> args;
        size_t rows;
        const char *first_fields;
    } rows[] = {
        {{"-L", examples + "loopback-any.pcap"}, 3, "1 127.0.0.1:34086 127.0.0.1:45123 6 20000 4 9"},
        /* Only the SYNs pass: one packet a connection, from the client. */
        {{"-f", "tcp[tcpflags] & tcp-syn != 0 and dst port 45123", "-L",
          examples + "loopback-any.pcap"},
         3, "1 127.0.0.1:34086 127.0.0.1:45123 1 0 0 0"},
        {{"-L", examples + "sender.pcap", examples + "receiver.pcap"}, 2,
         "1 10.77.2.1:38130 10.77.1.1:8080 197 86 295 418492"},
    };
    for (const row &r : rows) {
        uitest::run_result res = run_headless(r.args);
        EXPECT_EQ(res.status, 0) << res.err;
        EXPECT_EQ(res.err, "");
        std::vector<std::string> got = rows_of(res.out);
        ASSERT_EQ(got.size(), r.rows) << res.out;
        std::vector<std::string> f = fields_of(got[0]);
        ASSERT_EQ(f.size(), 10u);
        std::string first;
        for (size_t i = 0; i < 7; i++)
            first += (i ? " " : "") + f[i];
        EXPECT_EQ(first, r.first_fields);
    }
}

TEST(ConnectionOptions, BadChoicesAndFiltersExitWithStatusOne)
{
    struct row {
        std::vector<std::string> args;
        std::string err;
    } rows[] = {
        {{"-c", "4", examples + "loopback-any.pcap"},
         "wirepaint: " + examples + "loopback-any.pcap holds 3 TCP connections: no connection 4\n"},
        {{"-c", "two", examples + "loopback-any.pcap"},
         "wirepaint: -c wants a connection number from 1, not \"two\"\n"},
        {{"-c", "0", examples + "loopback-any.pcap"},
         "wirepaint: -c wants a connection number from 1, not \"0\"\n"},
        {{"-f", "port 80 and", examples + "sender.pcap"},
         "wirepaint: bad filter expression: can't parse filter expression: syntax error\n"},
        {{"-c", "1", "-f", "udp", examples + "sender.pcap"},
         "wirepaint: " + examples + "sender.pcap holds 0 TCP connections: no connection 1\n"},
        {{"-H", "10.9.9.9", examples + "sender.pcap"},
         "wirepaint: -H: 10.9.9.9 is not an end of this connection\n"},
        {{"-H", "10.77.1.1:9", examples + "sender.pcap"},
         "wirepaint: -H: 10.77.1.1:9 is not an end of this connection\n"},
        {{"-H", "[::1]:80", examples + "sender.pcap"},
         "wirepaint: -H: [::1]:80 is not an end of this connection\n"},
        {{"-H", "127.0.0.1", examples + "loopback-any.pcap"},
         "wirepaint: -H: 127.0.0.1 is both ends of this connection: add the port\n"},
        {{"-H", "server", examples + "sender.pcap"},
         "wirepaint: -H wants an address, or address:port as -L writes it, not \"server\"\n"},
    };
    for (const row &r : rows) {
        uitest::run_result res = run_headless(r.args);
        EXPECT_EQ(res.status, 1) << r.args[1];
        EXPECT_EQ(res.err, r.err);
    }
}

TEST(ConnectionOptions, FileCutShortIsReadWithAWarning)
{
    std::string cut = pcapgen::temp_path("cut.pcap");
    std::filesystem::copy_file(examples + "sender.pcap", cut);
    std::filesystem::resize_file(cut, 50000);
    uitest::run_result res = run_headless({"-L", cut});
    EXPECT_EQ(res.status, 0);
    EXPECT_EQ(res.err, "wirepaint: warning: " + cut +
                           ": truncated dump file; tried to read 66 captured bytes, only got 18\n");
    ASSERT_EQ(rows_of(res.out).size(), 1u);
    EXPECT_EQ(fields_of(rows_of(res.out)[0])[3], "192");

    /* Cut inside its first record: a read error in libpcap's words. */
    std::filesystem::resize_file(cut, 60);
    res = run_headless({"-L", cut});
    EXPECT_EQ(res.status, 254);
    EXPECT_EQ(res.err, "pcap_loop: truncated dump file; tried to read 74 captured bytes, only got 20\n");
}

TEST(ConnectionOptions, ChoiceAndFilterDecideTheConnectionDrawn)
{
    struct row {
        std::vector<std::string> args;
        const char *hosts;
    } rows[] = {
        {{examples + "loopback-any.pcap"}, "10\t127.0.0.1:34086\t127.0.0.1:45123"},
        {{"-c", "2", examples + "loopback-any.pcap"}, "11\t127.0.0.1:34096\t127.0.0.1:45123"},
        {{"-c", "3", examples + "loopback-any-sll.pcap"}, "11\t127.0.0.1:34112\t127.0.0.1:45123"},
        /* The list is of what passes the filter. */
        {{"-f", "port 34096 or port 34100", "-c", "2", examples + "loopback-any.pcap"},
         "11\t127.0.0.1:34100\t127.0.0.1:45123"},
    };
    for (const row &r : rows) {
        uitest::session s;
        ASSERT_TRUE(s.x.ok());
        s.run("init_clib\nrec hosts $::segcount $::lefthost $::righthost\ndestroy .\n", r.args);
        EXPECT_EQ(s.result.status, 0) << s.result.err;
        uitest::record h = uitest::events(s.rec, "hosts");
        ASSERT_EQ(h.size(), 1u);
        EXPECT_EQ(h[0][1] + "\t" + h[0][2] + "\t" + h[0][3], r.hosts);
    }
}

}  // namespace

/* Real captures at both ends of a 20 ms path (sender, receiver) and of a
 * path of tens of microseconds (lan-*), each server closing first: the
 * capture host is drawn left, by the handshake or by -H, and no segment
 * with data is a duplicate ACK. */
TEST(CaptureHost, DrawnLeftByTheHandshakeOrByName)
{
    struct row {
        std::vector<std::string> args;
        const char *left;
    } rows[] = {
        {{examples + "sender.pcap"}, "10.77.1.1.8080"},
        {{examples + "receiver.pcap"}, "10.77.2.1.38130"},
        {{examples + "lan-server.pcap"}, "10.78.1.1.8081"},
        {{examples + "lan-client.pcap"}, "10.78.2.1.49950"},
        {{"-H", "10.78.2.1", examples + "lan-server.pcap"}, "10.78.2.1.49950"},
        {{"-H", "10.78.1.1:8081", examples + "lan-client.pcap"}, "10.78.1.1.8081"},
        {{"-H", "10.77.2.1:38130", examples + "sender.pcap", examples + "receiver.pcap"},
         "10.77.2.1.38130"},
        {{"-H", "127.0.0.1:45123", examples + "loopback-any.pcap"}, "127.0.0.1.45123"},
    };
    for (const row &r : rows) {
        std::vector<std::string> stats = {"-S"}, table = {"-x", "-"};
        stats.insert(stats.end(), r.args.begin(), r.args.end());
        table.insert(table.end(), r.args.begin(), r.args.end());
        uitest::run_result res = run_headless(stats);
        ASSERT_EQ(res.status, 0) << res.err;
        EXPECT_NE(res.out.find(std::string("Left host (L):   ") + r.left + "\n"),
                  std::string::npos) << r.args.back() << "\n" << res.out;
        res = run_headless(table);
        ASSERT_EQ(res.status, 0) << res.err;
        size_t rows_with_data = 0, dup_with_data = 0;
        for (const std::string &line : rows_of(res.out)) {
            std::vector<std::string> f;
            for (size_t i = 0, j; i <= line.size(); i = j + 1) {
                j = line.find(',', i);
                j = j == std::string::npos ? line.size() : j;
                f.push_back(line.substr(i, j - i));
            }
            if (f.size() < 9 || f[8] == "0" || f[8] == "payload")
                continue;
            rows_with_data++;
            dup_with_data += f[2] == "duplicate ACK";
        }
        EXPECT_GT(rows_with_data, 1u) << r.args.back();
        EXPECT_EQ(dup_with_data, 0u) << r.args.back();
    }
}

namespace {

/* The comma-separated fields of a -x row. */
std::vector<std::string> csv_fields(const std::string &line)
{
    std::vector<std::string> f;
    for (size_t i = 0, j; i <= line.size(); i = j + 1) {
        j = line.find(',', i);
        j = j == std::string::npos ? line.size() : j;
        f.push_back(line.substr(i, j - i));
    }
    return f;
}

/* The -x rows (header dropped) of a load of `files`. */
std::vector<std::vector<std::string>> table_of(const std::vector<std::string> &files)
{
    std::vector<std::string> args = {"-x", "-"};
    args.insert(args.end(), files.begin(), files.end());
    uitest::run_result res = run_headless(args);
    EXPECT_EQ(res.status, 0) << res.err;
    std::vector<std::vector<std::string>> rows;
    for (const std::string &line : rows_of(res.out))
        if (line.compare(0, 6, "index,") != 0)
            rows.push_back(csv_fields(line));
    return rows;
}

/* The -S line that begins with `head`, or "". */
std::string stats_line(const std::vector<std::string> &files, const std::string &head)
{
    std::vector<std::string> args = {"-S"};
    args.insert(args.end(), files.begin(), files.end());
    uitest::run_result res = run_headless(args);
    EXPECT_EQ(res.status, 0) << res.err;
    std::string out = "\n" + res.out;
    size_t at = out.find("\n" + head);
    if (at == std::string::npos)
        return "";
    return out.substr(at + 1, out.find('\n', at + 1) - at - 1);
}

/* -x columns. */
enum { X_DIR = 1, X_DELAY = 5, X_SEQ = 6, X_PAYLOAD = 8, X_FAR_END = 14 };

}  // namespace

/* Every one-file capture of the examples: the capture host and the
 * evidence that named it, as -S and -V say it. */
TEST(CaptureHost, EveryExampleNamesItsHostAndTheEvidence)
{
    const std::string ttl62 = " (its packets leave with TTL 64, the peer's arrive with 62)";
    const std::string ttl63 = " (its packets leave with TTL 64, the peer's arrive with 63)";
    struct row {
        const char *file;
        std::string line;
    } rows[] = {
        {"sender.pcap", "10.77.1.1" + ttl62},
        {"sender.pcapng", "10.77.1.1" + ttl62},
        {"receiver.pcap", "10.77.2.1" + ttl62},
        {"bulk-loss-sender.pcap", "10.77.1.1" + ttl62},
        {"bulk-loss-receiver.pcap", "10.77.2.1" + ttl62},
        {"drift-sender.pcap", "10.77.1.1" + ttl62},
        {"drift-receiver.pcap", "10.77.2.1" + ttl62},
        {"offload-sender.pcap", "10.77.1.1" + ttl62},
        {"offload-receiver.pcap", "10.77.2.1" + ttl62},
        {"offload-router.pcap", "10.77.1.1" + ttl62},
        {"lan-server.pcap", "10.78.1.1" + ttl63},
        {"lan-client.pcap", "10.78.2.1" + ttl63},
        {"slow-reader.pcap", "10.78.1.1 (handshake gaps)"},
        {"timeout.pcap", "10.78.1.1 (handshake gaps)"},
        {"keepalive.pcap", "10.78.1.2 (delay estimate of the first acknowledged segment)"},
        {"loopback-any.pcap", "127.0.0.1:34086 (handshake gaps)"},
    };
    for (const row &r : rows)
        EXPECT_EQ(stats_line({examples + r.file}, "Capture host:"),
                  "Capture host:    " + r.line) << r.file;
    uitest::run_result res =
        run_headless({"-V", "-S", "-H", "10.77.2.1", examples + "sender.pcap"});
    EXPECT_NE(res.err.find("\nCapture host:    10.77.2.1 (named with -H)\n"), std::string::npos)
        << res.err;
}

/* Every two-file pair of the examples, in both orders: the drawn capture
 * (the one with more segments, the first on equal counts) has its host
 * on the left, named by the gaps between copies, and no measured
 * one-way delay lies below -200 us (both ends on one clock). */
TEST(CaptureHost, BothOrdersOfEveryPairDrawTheDrawnCapturesHostLeft)
{
    struct end {
        const char *file;
        const char *host;
    };
    const std::vector<std::pair<end, end>> pairs = {
        {{"sender.pcap", "10.77.1.1"}, {"receiver.pcap", "10.77.2.1"}},
        {{"bulk-loss-sender.pcap", "10.77.1.1"}, {"bulk-loss-receiver.pcap", "10.77.2.1"}},
        {{"drift-sender.pcap", "10.77.1.1"}, {"drift-receiver.pcap", "10.77.2.1"}},
        {{"offload-sender.pcap", "10.77.1.1"}, {"offload-receiver.pcap", "10.77.2.1"}},
        {{"lan-server.pcap", "10.78.1.1"}, {"lan-client.pcap", "10.78.2.1"}},
    };
    for (const auto &p : pairs) {
        for (int order = 0; order < 2; order++) {
            const end &first = order == 0 ? p.first : p.second;
            const end &second = order == 0 ? p.second : p.first;
            std::vector<std::string> files = {examples + first.file, examples + second.file};
            size_t n1 = table_of({files[0]}).size(), n2 = table_of({files[1]}).size();
            const end &drawn = n2 > n1 ? second : first;
            std::string what = std::string(first.file) + " " + second.file;
            std::string evidence = stats_line(files, "Capture host:");
            std::string head = std::string("Capture host:    ") + drawn.host + " (two captures";
            EXPECT_EQ(evidence.substr(0, head.size()), head) << what;
            EXPECT_EQ(stats_line(files, "Left host (L):").find(drawn.host), 17u) << what;
            double lowest = 0.0;
            for (const std::vector<std::string> &f : table_of(files))
                if (f.size() > X_FAR_END && f[X_FAR_END] == "measured")
                    lowest = std::min(lowest, std::stod(f[X_DELAY]));
            EXPECT_GT(lowest, -200e-6) << what;
        }
    }
}

/* The pair captured with offloads on: the sender's super-segments and
 * the receiver's pieces. Every data segment of the drawn capture whose
 * last byte the other capture holds has a measured far end, drawn as
 * one arrow per segment captured. */
TEST(CaptureHost, OffloadPairMeasuresEverySegmentTheOtherCaptureSaw)
{
    const std::string snd = examples + "offload-sender.pcap", rcv = examples + "offload-receiver.pcap";
    for (const std::vector<std::string> &files :
         {std::vector<std::string>{snd, rcv}, std::vector<std::string>{rcv, snd}}) {
        std::vector<std::vector<std::string>> drawn = table_of(files);
        std::vector<std::vector<std::string>> a = table_of({files[0]}), b = table_of({files[1]});
        bool first_drawn = drawn.size() == a.size();
        const std::vector<std::vector<std::string>> &other = first_drawn ? b : a;
        ASSERT_EQ(drawn.size(), first_drawn ? a.size() : b.size());
        /* The other capture's data ranges per direction; both captures
         * begin with the SYN, so their relative numbers agree. Its L>R
         * is the drawn capture's R>L. */
        std::vector<std::pair<long, long>> held[2];
        for (const std::vector<std::string> &f : other)
            if (f.size() > X_PAYLOAD && f[X_PAYLOAD] != "0")
                held[f[X_DIR] == "L>R" ? 1 : 0].push_back(
                    {std::stol(f[X_SEQ]), std::stol(f[X_SEQ]) + std::stol(f[X_PAYLOAD])});
        size_t data = 0, saw = 0, measured = 0;
        for (const std::vector<std::string> &f : drawn) {
            if (f.size() <= X_FAR_END || f[X_PAYLOAD] == "0")
                continue;
            data++;
            long last = std::stol(f[X_SEQ]) + std::stol(f[X_PAYLOAD]) - 1;
            bool seen = false;
            for (const auto &r : held[f[X_DIR] == "L>R" ? 0 : 1])
                seen = seen || (r.first <= last && last < r.second);
            saw += seen;
            measured += f[X_FAR_END] == "measured";
            EXPECT_TRUE(!seen || f[X_FAR_END] == "measured") << files[0] << " seq " << f[X_SEQ];
        }
        EXPECT_GT(data, 200u);
        EXPECT_EQ(saw, data);
        EXPECT_EQ(measured, data);
    }
}
