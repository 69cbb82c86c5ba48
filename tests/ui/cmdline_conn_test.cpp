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
#include <cstdlib>
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
        /* The list's ten columns, the health's ten, then the reason, which
         * holds blanks ("-" for ok); with two files the first file's
         * counterpart in the second (here its first) before the reason. */
        std::vector<std::string> f = fields_of(got[0]);
        bool two = r.args.size() == 3 && r.args[0] == "-L";
        ASSERT_GE(f.size(), two ? 22u : 21u);
        EXPECT_EQ(two ? f[20] : std::string("1"), "1");
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

/* The -x rows (fields, header dropped) of a load of `files`. */
std::vector<std::vector<std::string>> table_of(const std::vector<std::string> &files)
{
    std::vector<std::string> args = {"-x", "-"};
    args.insert(args.end(), files.begin(), files.end());
    std::vector<std::vector<std::string>> rows;
    for (const std::string &line : rows_of(run_headless(args).out)) {
        std::vector<std::string> f(1);
        for (char c : line)
            c == ',' ? f.push_back("") : f.back().push_back(c);
        if (f[0] != "index")
            rows.push_back(f);
    }
    return rows;
}

/* The -S line that begins with `head`. */
std::string stats_line(const std::vector<std::string> &files, const std::string &head)
{
    std::vector<std::string> args = {"-S"};
    args.insert(args.end(), files.begin(), files.end());
    for (const std::string &line : rows_of(run_headless(args).out))
        if (line.compare(0, head.size(), head) == 0)
            return line;
    return "";
}

/* The packets of a server's capture: 30 connections, interleaved, each a
 * handshake and three data segments of which the second is sent again;
 * one UDP packet first. `only` > 0 keeps only that connection. */
std::string many_connections(int only)
{
    struct step { double dt; bool client; uint32_t seq, ack; uint8_t flags; int len; };
    const step steps[] = {
        {0, true, 100, 0, TH_SYN, 0},          {.01, false, 500, 101, TH_SYN | TH_ACK, 0},
        {.02, true, 101, 501, TH_ACK, 0},      {.03, false, 501, 101, TH_ACK, 1000},
        {.04, false, 1501, 101, TH_ACK, 1000}, {.05, false, 2501, 101, TH_ACK, 1000},
        {.30, false, 1501, 101, TH_ACK, 1000}, {.31, true, 101, 3501, TH_ACK, 0}};
    std::vector<std::pair<double, pcapgen::bytes>> packets;
    if (only == 0)
        packets.push_back({0.0, pcapgen::build_udp("10.1.0.1", "10.2.0.1", 53, 53, 20)});
    for (int k = 1; k <= 30; k++) {
        for (const step &st : steps) {
            pcapgen::tcp_seg s;
            uint16_t port = (uint16_t)(40000 + k);
            s.src = st.client ? "10.1.0.1" : "10.2.0.1";
            s.dst = st.client ? "10.2.0.1" : "10.1.0.1";
            s.sport = st.client ? port : 80;
            s.dport = st.client ? 80 : port;
            s.seq = st.seq, s.ack = st.ack, s.flags = st.flags, s.paylen = st.len;
            if (only == 0 || k == only)
                packets.push_back({0.001 * k + st.dt, pcapgen::build_tcp(s)});
        }
    }
    std::stable_sort(packets.begin(), packets.end(),
                     [](const auto &a, const auto &b) { return a.first < b.first; });
    pcapgen::capture c;
    for (const auto &p : packets)
        c.add(p.second, p.first);
    return c.write();
}

}  // namespace

/* Every one-file capture of the examples: the capture host and the
 * evidence that named it, as -S and -V say it. */
TEST(CaptureHost, EveryExampleNamesItsHostAndTheEvidence)
{
    const std::string snd = "10.77.1.1 (its packets leave with TTL 64, the peer's arrive with 62)",
                      rcv = "10.77.2.1 (its packets leave with TTL 64, the peer's arrive with 62)",
                      hs = "10.78.1.1 (handshake gaps)";
    const std::vector<std::pair<const char *, std::string>> rows = {
        {"sender.pcap", snd}, {"sender.pcapng", snd}, {"receiver.pcap", rcv},
        {"bulk-loss-sender.pcap", snd}, {"bulk-loss-receiver.pcap", rcv},
        {"drift-sender.pcap", snd}, {"drift-receiver.pcap", rcv},
        {"offload-sender.pcap", snd}, {"offload-receiver.pcap", rcv},
        {"offload-router.pcap", snd},  /* taken in the path, at the sender's router */
        {"lan-server.pcap", "10.78.1.1 (its packets leave with TTL 64, the peer's arrive with 63)"},
        {"lan-client.pcap", "10.78.2.1 (its packets leave with TTL 64, the peer's arrive with 63)"},
        {"slow-reader.pcap", hs}, {"timeout.pcap", hs},
        {"keepalive.pcap", "10.78.1.2 (delay estimate of the first acknowledged segment)"},
        {"loopback-any.pcap", "127.0.0.1:34086 (handshake gaps)"},
    };
    for (const auto &r : rows)
        EXPECT_EQ(stats_line({examples + r.first}, "Capture host:"), "Capture host:    " + r.second)
            << r.first;
    uitest::run_result res = run_headless({"-V", "-S", "-H", "10.77.2.1", examples + "sender.pcap"});
    EXPECT_NE(res.err.find("\nCapture host:    10.77.2.1 (named with -H)\n"), std::string::npos)
        << res.err;
}

/*
 * Every two-file pair of the examples, in both orders: the drawn capture
 * (more segments; the first on equal counts) has its host on the left,
 * named by the gaps between copies, and no measured one-way delay lies
 * below -200 us (one clock). On the pair captured with offloads, every
 * data segment whose last byte the other capture holds is measured.
 */
TEST(CaptureHost, BothOrdersOfEveryPairDrawTheDrawnCapturesHostLeft)
{
    const std::vector<std::vector<std::string>> pairs = {
        {"sender", "10.77.1.1", "receiver", "10.77.2.1"},
        {"bulk-loss-sender", "10.77.1.1", "bulk-loss-receiver", "10.77.2.1"},
        {"drift-sender", "10.77.1.1", "drift-receiver", "10.77.2.1"},
        {"lan-server", "10.78.1.1", "lan-client", "10.78.2.1"},
        {"offload-sender", "10.77.1.1", "offload-receiver", "10.77.2.1"},
    };
    enum { DIR = 1, DELAY = 5, SEQ = 6, PAYLOAD = 8, FAR_END = 14 };
    for (const std::vector<std::string> &p : pairs) {
        for (int first : {0, 2}) {
            std::vector<std::string> files = {examples + p[first] + ".pcap",
                                              examples + p[2 - first] + ".pcap"};
            auto one = table_of({files[0]}), other = table_of({files[1]});
            bool swap = other.size() > one.size();
            const std::string &host = p[swap ? 3 - first : first + 1];
            std::string what = p[first] + " first";
            EXPECT_EQ(stats_line(files, "Capture host:").rfind("Capture host:    " + host +
                                                                " (two captures: gaps", 0), 0u) << what;
            EXPECT_EQ(stats_line(files, "Left host (L):").find(host), 17u) << what;
            /* The bytes the other capture holds; its L>R is our R>L. */
            std::vector<std::pair<long, long>> held[2];
            for (const auto &f : swap ? one : other)
                held[f[DIR] == "L>R"].push_back({std::stol(f[SEQ]), std::stol(f[SEQ]) + std::stol(f[PAYLOAD])});
            size_t data = 0, measured = 0;
            for (const auto &f : table_of(files)) {
                if (f[FAR_END] == "measured") {
                    EXPECT_GT(std::stod(f[DELAY]), -200e-6) << what << " seq " << f[SEQ];
                }
                long last = std::stol(f[SEQ]) + std::stol(f[PAYLOAD]) - 1;
                bool seen = false;
                for (const auto &r : held[f[DIR] == "R>L"])
                    seen = seen || (r.first <= last && last < r.second);
                data += f[PAYLOAD] != "0" && seen;
                measured += f[PAYLOAD] != "0" && seen && f[FAR_END] == "measured";
            }
            if (p[0] == "offload-sender") {
                EXPECT_EQ(measured, data) << what;
            }
            EXPECT_GT(data, 30u) << what;
        }
    }
}

/* One connection out of many, chosen by -c or -f: standard output holds
 * only what was asked for, as for a file of that connection alone; the
 * packets passed over are counted on standard error with -V. */
TEST(QuietOutput, ChosenConnectionsWriteOnlyTheResults)
{
    std::string many = many_connections(0);
    std::string alone = many_connections(7);
    std::string skipped = "1 packet not TCP skipped\n232 packets of other connections skipped\n";
    struct row {
        std::vector<std::string> args;
        const char *alone_output;
        std::string counts;
    } rows[] = {
        {{"-c", "7", "-E"}, "-E", skipped},
        {{"-c", "7", "-S"}, "-S", skipped},
        {{"-c", "7", "-x", "-"}, "-x", skipped},
        {{"-f", "port 40007 or port 40008", "-E"}, "-E",
         "8 packets of other connections skipped\n"},
    };
    for (const row &r : rows) {
        std::vector<std::string> args = {r.alone_output};
        if (args[0] == "-x")
            args.push_back("-");
        args.push_back(alone);
        uitest::run_result want = run_headless(args);
        ASSERT_EQ(want.status, 0) << want.err;
        ASSERT_NE(want.out, "");
        args = r.args;
        args.push_back(many);
        uitest::run_result got = run_headless(args);
        EXPECT_EQ(got.status, 0) << got.err;
        EXPECT_EQ(got.out, want.out) << r.args[0] << " " << r.args[2];
        EXPECT_EQ(got.err, "");
        args.insert(args.begin(), "-V");
        got = run_headless(args);
        EXPECT_EQ(got.out, want.out);
        EXPECT_NE(got.err.find(" done.\n" + r.counts), std::string::npos) << got.err;
    }
    /* Standard output taken without a choice: the drawn connection is the
     * first, and the others' packets are only counted. */
    uitest::run_result got = run_headless({"-E", many});
    EXPECT_EQ(got.out, run_headless({"-E", many_connections(1)}).out);
}

/* The sample compressed by each of the five tools gives exactly the plain
 * file's results, in every mode; a corrupt one ends with status 1 and a
 * message naming it, before anything is written. */
TEST(CompressedCaptures, EveryFormatGivesThePlainFilesResults)
{
    std::string dir = uitest::make_temp_dir();
    std::string sender = examples + "sender.pcap", receiver = examples + "receiver.pcap";
    std::string loop = examples + "loopback-any.pcap";
    std::string plain_s = run_headless({"-S", sender}).out;
    std::string plain_two = run_headless({"-S", sender, receiver}).out;
    std::string plain_l = rows_of(run_headless({"-L", loop}).out)[1];
    ASSERT_NE(plain_s, "");
    for (const char *tool : {"gzip -n", "zstd -q", "xz", "bzip2", "lz4 -q"}) {
        std::string name = std::string(tool).substr(0, std::string(tool).find(' '));
        std::string z = dir + "/sender." + name, zr = dir + "/receiver", zl = dir + "/loop.pcap";
        std::string cmd = std::string(tool) + " -c < " + sender + " > " + z + " && " + tool +
                          " -c < " + receiver + " > " + zr + " && " + tool + " -c < " + loop +
                          " > " + zl;
        ASSERT_EQ(std::system(cmd.c_str()), 0) << cmd;
        uitest::run_result r = run_headless({"-S", z});
        EXPECT_EQ(r.status, 0) << name << ": " << r.err;
        EXPECT_EQ(r.out, plain_s) << name;
        EXPECT_EQ(run_headless({"-S", z, zr}).out, plain_two) << name;
        r = run_headless({"-L", zl});
        ASSERT_EQ(rows_of(r.out).size(), 3u) << name;
        EXPECT_EQ(rows_of(r.out)[1], plain_l) << name;
    }
    std::string bad = dir + "/bad.gz";
    ASSERT_EQ(std::system(("gzip -n -c < " + sender + " > " + bad + " && dd if=/dev/zero of=" +
                           bad + " bs=1 seek=9000 count=16 conv=notrunc 2>/dev/null")
                              .c_str()),
              0);
    uitest::run_result r = run_headless({"-S", bad});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "wirepaint: " + bad + ": corrupt gzip data: incorrect data check\n");
    std::filesystem::remove_all(dir);
}

/* The axis labels of a pair through a NAT name each end as the drawn
 * capture sees it and, below, as the other capture does; a pair that
 * agrees keeps its one line. */
TEST(AxisLabels, NameTheOtherCapturesEndBelowWhereItDiffers)
{
    struct row {
        std::vector<std::string> args;
        const char *others;  /* leftother, rightother */
        const char *header;  /* height, then texts of the header */
    } rows[] = {
        {{examples + "nat-client.pcap", examples + "nat-server.pcap"},
         "10.220.0.254:60653\t10.220.0.1:8080",
         "34 {(10.220.0.254:60653 in the other capture)} {(10.220.0.1:8080 in the other capture)} "
         "10.221.0.2:59606 10.221.0.254:80 {time \xe2\x86\x93}"},
        {{examples + "lan-client.pcap", examples + "lan-server.pcap"}, "\t",
         "22 10.78.2.1:49950 10.78.1.1:8081 {time \xe2\x86\x93}"},
    };
    for (const row &r : rows) {
        uitest::real_session s;
        ASSERT_TRUE(s.x.ok());
        s.run("update\nset h .subframe1.header\nset t [list [$h cget -height]]\n"
              "foreach i [$h find all] {lappend t [$h itemcget $i -text]}\n"
              "rec others $::leftother $::rightother\nrec header $t\ndestroy .\n",
              r.args);
        EXPECT_EQ(s.result.status, 0) << s.result.err;
        uitest::record o = uitest::events(s.rec, "others");
        uitest::record h = uitest::events(s.rec, "header");
        ASSERT_EQ(o.size(), 1u);
        ASSERT_EQ(h.size(), 1u);
        EXPECT_EQ(o[0][1] + "\t" + o[0][2], r.others);
        EXPECT_EQ(h[0][1], r.header);
    }
}
