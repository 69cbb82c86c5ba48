/*
 * line_text_test.cpp --
 *
 *	The text side of the line list: labels from the records, and the
 *	priming run of every segment through the summary in index order,
 *	which fixes the relative sequence bases before any click. Every
 *	priming case runs with both forms, and the form that formats nothing
 *	is checked against the literal one on random traces and the sample
 *	captures: the same tables, the same standard output, and the same
 *	detail text for every line afterwards.
 */

#include "text/line_text.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "analysis/line.h"
#include "support/pcapgen.h"
#include "text/detail.h"
#include "text/text_state.h"
#include "text_fixture.h"
#include "trace/binread.h"
#include "trace/flow.h"

namespace {

using pcapgen::bytes;
using pcapgen::tcp_seg;
using text_fixture::install;

class LineTextTest : public text_fixture::TextTest {};

/* The forms of the priming pass: the literal one, the one that formats
 * nothing, and that one by record (what the loader's second thread runs). */
struct priming {
    const char *name;
    void (*run)();
};
const priming primings[] = {
    {"literal", prime_text_state_literal},
    {"without text", prime_text_state},
    {"by record", prime_record_texts},
};

/* The label of line i as it is published. */
std::string label_of(int32_t i)
{
    char label[LINE_LABEL_SIZE];
    format_line_label(i, label, sizeof label);
    return label;
}

/* The summary line of a detail text: what comes before its first newline. */
std::string summary_line(const std::string &text)
{
    return text.substr(0, text.find('\n'));
}

/* The TCP checksum field of IPv4 packet `p`, whose TCP header is at `tcp`, as
 * four hexadecimal digits. */
std::string cksum_hex(const bytes &p, size_t tcp)
{
    char hex[5];
    std::snprintf(hex, sizeof hex, "%02x%02x", p[tcp + 16], p[tcp + 17]);
    return hex;
}

TEST_F(LineTextTest, LabelOfDataSegment)
{
    install({pcapgen::build_tcp(tcp_seg{})}, 80, 0);
    seg_record &r = g_trace.main.rec[0];
    set_seq(r, 1);
    r.paylen = 100;
    set_ack(r, 1);
    r.win = 65535;
    EXPECT_EQ(label_of(0), " 1:101(100) ack 1 win 65535 ");
    /* Outside the main trace the label is empty. */
    EXPECT_EQ(label_of(1), "");
    EXPECT_EQ(label_of(-1), "");
}

TEST_F(LineTextTest, LabelKeepsSixtyFourBitAndNegativeValues)
{
    seg_record r = {};
    set_seq(r, 4294967295LL);
    r.paylen = 10;
    set_ack(r, -4294967295LL);
    r.win = 0;
    char label[256];
    format_record_label(r, label, sizeof label);
    EXPECT_STREQ(label, " 4294967295:4294967305(10) ack -4294967295 win 0 ");
    set_seq(r, 5);
    r.paylen = -8;
    set_ack(r, 0);
    r.win = 512;
    format_record_label(r, label, sizeof label);
    EXPECT_STREQ(label, " 5:-3(-8) ack 0 win 512 ");
}

/* A capture that starts in mid-connection: 100 bytes from 10.0.0.1:40000
 * with ACK, then the answer from 10.0.0.2:80 acknowledging them. */
std::vector<bytes> mid_connection_pair()
{
    tcp_seg s;
    s.flags = TH_ACK | TH_PUSH;
    s.seq = 70000;
    s.ack = 90000;
    s.paylen = 100;
    tcp_seg back;
    back.src = "10.0.0.2";
    back.dst = "10.0.0.1";
    back.sport = 80;
    back.dport = 40000;
    back.seq = 90000;
    back.ack = 70100;
    return {pcapgen::build_tcp(s), pcapgen::build_tcp(back)};
}

TEST_F(LineTextTest, PrimingFixesBasesBeforeAnyClick)
{
    /* A capture that starts in mid-connection: the first segment with ACK
     * carries 100 bytes. Once primed, a click shows it counted from itself. */
    for (const priming &form : primings) {
        text_state_clear();
        install(mid_connection_pair(), 200, 0);
        form.run();
        std::string first = segment_detail_text(0, 1);
        EXPECT_NE(first.find(" 0:100(100) ack 1 win 65535"), std::string::npos)
            << form.name << ": " << first;
        std::string second = segment_detail_text(1, 1);
        EXPECT_NE(second.find(" 1:1(0) ack 100 win 65535"), std::string::npos)
            << form.name << ": " << second;
    }
}

TEST_F(LineTextTest, OpeningTheSameCaptureAgainGivesTheSameSummaries)
{
    /* The table outlives a reload: the second priming pass meets the
     * entry the first one left, and every click reads as before. */
    const std::vector<bytes> pkts = mid_connection_pair();
    for (const priming &form : primings) {
        text_state_clear();
        install(pkts, 200, 0);
        form.run();
        const std::string first = segment_detail_text(0, 0);
        const std::string second = segment_detail_text(1, 0);
        EXPECT_EQ(summary_line(first), "10.0.0.1.40000 > 10.0.0.2.80:  P , cksum 0x" +
                                           cksum_hex(pkts[0], 20) +
                                           " (correct), 0:100(100) ack 1 win 65535")
            << form.name;
        EXPECT_EQ(summary_line(second), "10.0.0.2.80 > 10.0.0.1.40000:  . , cksum 0x" +
                                            cksum_hex(pkts[1], 20) +
                                            " (correct), 1:1(0) ack 100 win 65535")
            << form.name;

        install(pkts, 200, 0);   /* the reset of a reopen keeps the text state */
        form.run();
        EXPECT_EQ(std::string(segment_detail_text(0, 0)), first) << form.name;
        EXPECT_EQ(std::string(segment_detail_text(1, 0)), second) << form.name;
        EXPECT_EQ(g_text.relseq_extra, 1) << form.name;
    }
}

TEST_F(LineTextTest, PrimingWritesBadOptToStandardOutput)
{
    tcp_seg s;
    s.tcp_options = {1, 1, 8, 10, 0, 0, 0, 1};
    install({pcapgen::build_tcp(s), pcapgen::build_tcp(tcp_seg{}), pcapgen::build_tcp(s)}, 80, 0);
    for (const priming &form : primings) {
        testing::internal::CaptureStdout();
        form.run();
        EXPECT_EQ(testing::internal::GetCapturedStdout(), "[bad opt][bad opt]") << form.name;
    }
}

TEST_F(LineTextTest, PrimingVisitsEveryLineInIndexOrder)
{
    /* Two SYN-ACKs: which one fixes the bases last depends on the order. */
    tcp_seg a;
    a.src = "10.0.0.2";
    a.dst = "10.0.0.1";
    a.sport = 80;
    a.dport = 40000;
    a.flags = TH_SYN | TH_ACK;
    a.seq = 5000;
    a.ack = 1001;
    tcp_seg b = a;
    b.seq = 8000;
    b.ack = 3001;
    for (const priming &form : primings) {
        text_state_clear();
        install({pcapgen::build_tcp(a), pcapgen::build_tcp(b)}, 80, 0);
        form.run();
        const relseq_slot &bucket = g_text.relseq[(80u * 65536u + 40000u) % RELSEQ_BUCKETS];
        EXPECT_EQ(bucket.first_base, 8000u) << form.name;
        EXPECT_EQ(bucket.second_base, 3000u) << form.name;
        /* The literal form leaves the last line's summary in the buffer;
         * the other one formats nothing. */
        bool literal = form.run == prime_text_state_literal;
        EXPECT_EQ(std::string(g_text.detail).find("10.0.0.2.80 > 10.0.0.1.40000:  S ") == 0,
                  literal) << form.name;
    }
}

TEST_F(LineTextTest, EmptyTraceOrNoLinesDoesNothing)
{
    for (const priming &form : primings) {
        trace_state_clear();
        form.run();
        EXPECT_STREQ(g_text.detail, "") << form.name;
        install({pcapgen::build_tcp(tcp_seg{})}, 80, 0);
        if (form.run == prime_record_texts)
            continue;  /* needs no line list: the loader runs it before one exists */
        line_record *lines = g_trace.lines;
        g_trace.lines = nullptr;
        form.run();
        g_trace.lines = lines;
        EXPECT_STREQ(g_text.detail, "") << form.name;
        EXPECT_EQ(g_text.pool.blocks, 0) << form.name;
    }
}

/*
 * The whole text state as one string: every chain of the relative
 * sequence table and of the three name caches, slot by slot in chain
 * order, and the pool counters. Two primings that leave equal strings
 * left the same tables.
 */
std::string text_state_image()
{
    std::string out;
    auto put = [&out](const void *p, size_t n) { out.append((const char *)p, n); };
    for (const relseq_slot &bucket : g_text.relseq)
        for (const relseq_slot *s = &bucket; s->next != nullptr; s = s->next) {
            put(&s->key, sizeof s->key);
            put(&s->first_base, sizeof s->first_base);
            put(&s->second_base, sizeof s->second_base);
        }
    for (const name_entry *cache : {g_text.ipv4_cache, g_text.port_cache})
        for (int b = 0; b < NAME_BUCKETS; b++)
            for (const name_entry *s = &cache[b]; s->next != nullptr; s = s->next) {
                put(&s->key, sizeof s->key);
                out += s->text;
                out += '|';
            }
    for (const name6_entry &bucket : g_text.ipv6_cache)
        for (const name6_entry *s = &bucket; s->next != nullptr; s = s->next) {
            put(s->addr, sizeof s->addr);
            out += s->text;
            out += '|';
        }
    out += std::to_string(g_text.relseq_extra) + "/" + std::to_string(g_text.pool.blocks) + "/" +
           std::to_string(g_text.pool.left) + "/" + std::to_string(g_text.pool6.blocks) + "/" +
           std::to_string(g_text.pool6.left);
    return out;
}

/* What one priming form leaves: tables, standard output, later texts. */
struct primed {
    std::string state;
    std::string stdout_text;
    std::vector<std::string> details;  /* every line's full text, then summaries */
};

/* Runs `form` from a fresh text state over the installed trace, then asks
 * for every line's detail text as a click would. */
primed prime_and_read(const priming &form)
{
    text_state_clear();
    primed p;
    testing::internal::CaptureStdout();
    form.run();
    p.stdout_text = testing::internal::GetCapturedStdout();
    p.state = text_state_image();
    testing::internal::CaptureStdout();
    for (int32_t i = 0; i < g_trace.main.count; i++)
        p.details.push_back(segment_detail_text(i, 0));
    for (int32_t i = g_trace.main.count - 1; i >= 0; i--)
        p.details.push_back(segment_detail_text(i, 1));
    p.stdout_text += "|" + testing::internal::GetCapturedStdout();
    return p;
}

/* Whether the two forms leave the same; the first difference otherwise. */
testing::AssertionResult same_priming()
{
    primed a = prime_and_read(primings[0]);
    for (size_t f = 1; f < sizeof primings / sizeof primings[0]; f++) {
        primed b = prime_and_read(primings[f]);
        const char *name = primings[f].name;
        if (a.state != b.state)
            return testing::AssertionFailure() << name << ": tables differ";
        if (a.stdout_text != b.stdout_text)
            return testing::AssertionFailure() << name << ": standard output: " << a.stdout_text
                                               << " vs " << b.stdout_text;
        for (size_t i = 0; i < a.details.size(); i++)
            if (a.details[i] != b.details[i])
                return testing::AssertionFailure() << name << ": text " << i << ":\n"
                                                   << a.details[i] << "\n" << b.details[i];
    }
    return testing::AssertionSuccess();
}

/* Random segments of a few connections: every flag combination, SYNs
 * that reset the bases, equal ports, destination port 0, options well and
 * badly formed, odd header lengths, extension headers, short copies. */
struct random_segments {
    std::mt19937 rng;
    explicit random_segments(unsigned seed) : rng(seed) {}

    uint32_t below(uint32_t n) { return (uint32_t)(rng() % n); }
    bool chance(uint32_t percent) { return below(100) < percent; }

    bytes option_bytes()
    {
        static const std::vector<bytes> pieces = {
            {1}, {0}, {2, 4, 5, 180}, {3, 3, 7}, {4, 2}, {8, 10, 0, 0, 0, 1, 0, 0, 0, 2},
            {5, 10, 0, 0, 4, 0, 0, 0, 8, 0}, {5, 7, 0, 0, 0, 1, 0}, {30, 4, 171, 205},
            {19, 18, 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15},
            {8, 10, 0, 0}, {2, 1}, {2, 40}, {6, 6, 0, 0, 0, 9}, {2, 6, 5, 180, 0, 0}};
        bytes o;
        int n = (int)below(5);
        for (int i = 0; i < n; i++) {
            const bytes &p = pieces[below((uint32_t)pieces.size())];
            o.insert(o.end(), p.begin(), p.end());
        }
        if (o.size() > 40)
            o.resize(40);
        return o;
    }

    tcp_seg segment(bool v6)
    {
        static const char *hosts4[] = {"10.0.0.1", "10.0.0.2", "10.16.0.1", "10.0.0.1"};
        static const char *hosts6[] = {"2001:db8::1", "2001:db8::2", "::ffff:10.0.0.1", "::1"};
        static const uint16_t ports[] = {80, 40000, 4176, 80, 0, 1000};
        tcp_seg s;
        s.v6 = v6;
        s.src = v6 ? hosts6[below(4)] : hosts4[below(4)];
        s.dst = v6 ? hosts6[below(4)] : hosts4[below(4)];
        s.sport = ports[below(6)];
        s.dport = chance(90) ? ports[below(4)] : ports[below(6)];
        static const uint8_t flags[] = {0x10, 0x10, 0x18, 0x12, 0x02, 0x11, 0x14, 0x04, 0x30,
                                        0xd0, 0x00, 0xff};
        s.flags = flags[below(sizeof flags)];
        s.seq = chance(50) ? 1000 + below(5000) : (uint32_t)rng();
        s.ack = chance(10) ? 0 : 5000 + below(5000);
        s.win = (uint16_t)rng();
        s.urp = (uint16_t)below(3);
        s.ip_id = (uint16_t)below(3);
        s.tcp_options = chance(60) ? option_bytes() : bytes();
        s.paylen = chance(40) ? 0 : (int)below(60);
        if (chance(5))
            s.data_offset = (int)below(16);
        if (chance(5))
            s.ip_len_adjust = (int)below(40) - 20;
        if (v6 && chance(10))
            s.ext.push_back(pcapgen::ext_header{chance(50) ? (uint8_t)60 : (uint8_t)0,
                                                (uint8_t)below(2)});
        if (!v6 && chance(5))
            s.ihl = (int)below(16);
        if (chance(10))
            s.tcp_cksum = pcapgen::CKSUM_WRONG;
        return s;
    }
};

TEST_F(LineTextTest, PrimingWithoutTextMatchesTheLiteralPrimingOnRandomTraces)
{
    int bad_opts = 0, relative = 0;
    for (unsigned seed = 1; seed <= 300; seed++) {
        random_segments g(seed);
        bool v6 = g.chance(40);
        std::vector<bytes> pkts;
        int n = 1 + (int)g.below(40);
        for (int i = 0; i < n; i++)
            pkts.push_back(pcapgen::build_tcp(g.segment(v6 != g.chance(3))));
        int copy_len = 20 + (int)g.below(120);
        int data_len = g.chance(30) ? (int)g.below((uint32_t)copy_len) : -1;
        install(pkts, copy_len, v6 ? 1 : 0, data_len);
        ASSERT_TRUE(same_priming()) << "seed " << seed;
        primed p = prime_and_read(primings[1]);
        bad_opts += p.stdout_text.find("[bad opt]") != std::string::npos;
        relative += g_text.relseq_extra > 0;
    }
    /* The random traces reach the paths that leave effects. */
    EXPECT_GT(bad_opts, 30);
    EXPECT_GT(relative, 150);
}

/* Reads `path` (with -s `copy_len` when > 0) as the main trace with a
 * line list, then reads and drops `after`, if given, as the file read
 * last in a two-file load. False when no segment was taken. */
bool read_as_main(const std::string &path, int copy_len = 0, const std::string &after = "")
{
    trace_state_clear();
    g_trace.copy_len = copy_len;
    testing::internal::CaptureStdout();
    read_capture(path.c_str());
    g_trace.main = g_trace.building;
    g_trace.building = trace_array{};
    if (!after.empty()) {
        read_capture(after.c_str());
        trace_free(&g_trace.building);
    }
    testing::internal::GetCapturedStdout();
    if (g_trace.main.count == 0)
        return false;
    g_trace.lines = (line_record *)std::calloc((size_t)g_trace.main.count, sizeof(line_record));
    return true;
}

/* The decoder's list of the main records whose options may end malformed
 * (-1 alone when it was not made for them all), and the records for which
 * the per-record check, reading their bytes again, says so. */
std::pair<std::vector<int32_t>, std::vector<int32_t>> listed_and_checked()
{
    const trace_array &t = g_trace.main;
    std::vector<int32_t> listed{-1}, checked;
    if (t.bad_opt_upto == t.count)
        listed.assign(t.bad_opt, t.bad_opt + t.bad_opt_count);
    for (int32_t i = 0; i < t.count; i++)
        if (record_may_mark_bad_options(i))
            checked.push_back(i);
    return {listed, checked};
}

TEST_F(LineTextTest, PrimingWithoutTextMatchesTheLiteralPrimingOnTheSampleCaptures)
{
    int taken = 0, files = 0;
    for (const auto &entry :
         std::filesystem::directory_iterator(WIREPAINT_SOURCE_DIR "/examples")) {
        std::string path = entry.path().string(), name = entry.path().filename().string();
        if (name.find(".pcap") == std::string::npos)
            continue;
        ASSERT_TRUE(read_as_main(path)) << name;
        taken += g_trace.main.count;
        files++;
        auto list = listed_and_checked();
        EXPECT_EQ(list.first, list.second) << name;
        EXPECT_TRUE(same_priming()) << name;
        /* A short -s, which cuts every copy inside its headers. */
        ASSERT_TRUE(read_as_main(path, 54)) << name;
        list = listed_and_checked();
        EXPECT_EQ(list.first, list.second) << name << " -s 54";
        EXPECT_TRUE(same_priming()) << name << " -s 54";
    }
    EXPECT_GE(files, 24);
    EXPECT_GT(taken, 9000);
}

/* A capture of malformed options only, whose list the decoder gave up:
 * the priming checks every record itself, as the literal form does. */
TEST_F(LineTextTest, PrimingWithoutTheDecodersListMatchesTheLiteralPriming)
{
    pcapgen::capture cap;
    for (int i = 0; i < 200; i++) {
        tcp_seg s;
        s.seq = 1000 + 10 * (uint32_t)i;
        s.ack = 1;
        s.paylen = 10;
        s.tcp_options = {1, 1, 8, 10, 0, 0, 0, 1};
        cap.add(pcapgen::build_tcp(s), 0.001 * i);
    }
    ASSERT_TRUE(read_as_main(cap.write()));
    EXPECT_EQ(g_trace.main.bad_opt_upto, -1);
    EXPECT_TRUE(same_priming());
    EXPECT_EQ(prime_and_read(primings[2]).stdout_text.find("[bad opt]"), 0u);
}

/*
 * Random captures of one connection, read by the decoder: either IP
 * version, both directions, every flag combination, SYNs that reset the
 * bases again, ack fields of 0, options well and badly formed on some or
 * all segments, odd header lengths, extension headers, short snapshots
 * and -s values; some read before another file of the other IP version,
 * whose version the summary then locates headers by. The decoder's list
 * of the records whose options may end malformed is the set the
 * per-record check finds.
 */
TEST_F(LineTextTest, PrimingByRecordMatchesTheLiteralPrimingOnDecodedRandomCaptures)
{
    int bad_opts = 0, with_options = 0, other_version = 0, listed = 0, cut_options = 0;
    const std::string v4_other = pcapgen::capture().add(pcapgen::build_tcp(tcp_seg{}), 0).write();
    tcp_seg six;
    six.v6 = true;
    six.src = "2001:db8::7";
    six.dst = "2001:db8::8";
    const std::string v6_other = pcapgen::capture().add(pcapgen::build_tcp(six), 0).write();
    for (unsigned seed = 1; seed <= 400; seed++) {
        random_segments g(seed);
        bool v6 = g.chance(40);
        tcp_seg base = g.segment(v6);
        if (base.dport == 0)
            base.dport = 80;
        bool options_everywhere = g.chance(40);
        int snaplen = g.chance(30) ? 40 + (int)g.below(80) : 65535;
        pcapgen::capture cap(pcapgen::LINK_EN10MB, snaplen);
        int n = 1 + (int)g.below(60);
        for (int i = 0; i < n; i++) {
            tcp_seg s = g.segment(v6);
            std::tie(s.src, s.dst, s.sport, s.dport) =
                std::tie(base.src, base.dst, base.sport, base.dport);
            if (g.chance(50)) {
                std::swap(s.src, s.dst);
                std::swap(s.sport, s.dport);
            }
            if (g.chance(80))
                s.flags = g.chance(90) ? (uint8_t)(TH_ACK | (g.chance(30) ? TH_PUSH : 0)) : s.flags;
            if (options_everywhere && s.tcp_options.empty())
                s.tcp_options = {1, 1, 8, 10, 0, 0, 0, 1, 0, 0, 0, 2};
            cap.add(pcapgen::build_tcp(s), 0.001 * i, g.chance(10) ? 30 + (int)g.below(60) : -1);
        }
        int copy_len = g.chance(20) ? 30 + (int)g.below(60) : 0;
        std::string after;
        if (g.chance(15)) {
            after = v6 ? v4_other : v6_other;
            other_version++;
        }
        if (!read_as_main(cap.write(), copy_len, after))
            continue;
        /* After a file of the other version the summary locates the
         * headers by that one's (and the priming reads every record). */
        auto list = listed_and_checked();
        if (after.empty()) {
            ASSERT_EQ(list.first, list.second) << "seed " << seed;
        }
        listed += g_trace.main.bad_opt_count > 0;
        ASSERT_TRUE(same_priming()) << "seed " << seed;
        with_options += g_trace.main.option_free != g_trace.main.count;
        primed p = prime_and_read(primings[2]);
        bad_opts += p.stdout_text.find("[bad opt]") != std::string::npos;
        for (const std::string &text : p.details)
            cut_options += text.find('<') != std::string::npos &&
                           summary_line(text).find("[|tcp]") != std::string::npos;
    }
    /* The captures reach the paths that leave effects. */
    EXPECT_GT(bad_opts, 50);
    EXPECT_GT(listed, 150);
    EXPECT_GT(cut_options, 500);
    EXPECT_GT(with_options, 150);
    EXPECT_GT(other_version, 30);
}

}  // namespace
