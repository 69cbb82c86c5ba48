/*
 * tcp_options_test.cpp --
 *
 *	The option list: named kinds, unknown kinds in hexadecimal, the
 *	length byte checks, "[len %d]", SACK blocks, "[bad opt]" on standard
 *	output, and the stop at the end of a cut copy. The option bytes are
 *	given in heap blocks of exactly the bytes the copy holds, so the
 *	sanitizer build catches any read past them.
 */

#include "text/tcp_options.h"

#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <string>
#include <vector>

#include "trace/dropnote.h"

namespace {

using opts = std::vector<uint8_t>;

/* The rows of the option table: option bytes, SACK base, text. */
struct option_row {
    opts bytes;
    uint32_t sack_base;
    const char *text;
    const char *out;   /* what goes to standard output */
};

const option_row option_rows[] = {
    {{2, 4, 5, 180, 4, 2, 8, 10, 0, 0, 0, 1, 0, 0, 0, 0, 1, 3, 3, 7}, 0,
     "    < mss 1460 , sackOK , timestamp 1 0 , nop , wscale 7 > ", ""},
    {{1, 1, 5, 10, 0, 0, 0x04, 0xb1, 0, 0, 0x05, 0x15}, 1000,
     "    < nop , nop , sack 1 {201:301} > ", ""},
    {{2, 6, 5, 180, 0, 0, 1, 1}, 0, "    < mss 1460[len 6] , eol > ", ""},
    {{1, 1, 8, 10, 0, 0, 0, 1}, 0, "    < nop , nop ,  > ", "[bad opt]"},
    {{30, 4, 171, 205}, 0, "    < opt-30:abcd > ", ""},
    {{1, 0, 9, 9}, 0, "    < nop , eol > ", ""},
    {{5, 7, 0, 0, 0, 1, 0, 1}, 0, "    < malformed sack , nop > ", ""},
    {{19, 18, 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 0, 0}, 0,
     "    < md5:000102030405060708090a0b0c0d0e0f , eol > ", ""},
};

struct printed {
    std::string text;
    std::string out;
    option_end end;
};

/*
 * Prints `o` as an option list of `count` bytes (all of `o` by default),
 * of which the copy holds the bytes of `o` only.
 */
printed print(const opts &o, uint32_t sack_base = 0, int count = -1)
{
    std::unique_ptr<uint8_t[]> copy(new uint8_t[o.empty() ? 1 : o.size()]);
    std::copy(o.begin(), o.end(), copy.get());
    char buf[512] = "";
    text_out t = text_out_at_end(buf, sizeof buf);
    uint32_t n = count >= 0 ? (uint32_t)count : (uint32_t)o.size();
    testing::internal::CaptureStdout();
    option_end end = format_tcp_options(copy.get(), n, (uint32_t)o.size(), sack_base, &t);
    std::string out = testing::internal::GetCapturedStdout();
    return printed{buf, out, end};
}

TEST(TcpOptions, TableRowsComeOutExactly)
{
    for (const option_row &row : option_rows) {
        printed p = print(row.bytes, row.sack_base);
        EXPECT_EQ(p.text, row.text);
        EXPECT_EQ(p.out, row.out) << row.text;
        EXPECT_EQ(p.end, row.out[0] ? OPTIONS_MALFORMED : OPTIONS_DONE) << row.text;
    }
}

TEST(TcpOptions, OneByteKindsAsLastByte)
{
    EXPECT_EQ(print({1}).text, "    < nop > ");
    EXPECT_EQ(print({0}).text, "    < eol > ");
}

TEST(TcpOptions, LengthByteBelowTwoIsMalformedAtOnce)
{
    printed p = print({2, 0, 5, 180});
    EXPECT_EQ(p.text, "    <  > ");
    EXPECT_EQ(p.out, "[bad opt]");
    p = print({1, 3, 1, 7});
    EXPECT_EQ(p.text, "    < nop ,  > ");
    EXPECT_EQ(p.out, "[bad opt]");
}

TEST(TcpOptions, LengthEqualToBytesLeftIsAcceptedOneMoreIsMalformed)
{
    printed p = print({1, 30, 3, 0xaa});
    EXPECT_EQ(p.text, "    < nop , opt-30:aa > ");
    EXPECT_EQ(p.out, "");
    p = print({1, 30, 4, 0xaa});
    EXPECT_EQ(p.text, "    < nop ,  > ");
    EXPECT_EQ(p.out, "[bad opt]");
    EXPECT_EQ(p.end, OPTIONS_MALFORMED);
}

TEST(TcpOptions, KindOfTwoOrMoreInLastByteIsMalformedWithoutReadingOn)
{
    /* The copy ends with the options: the byte after them is not there,
     * and must not be needed to know the option is malformed. */
    printed p = print({1, 1, 1, 2});
    EXPECT_EQ(p.text, "    < nop , nop , nop ,  > ");
    EXPECT_EQ(p.out, "[bad opt]");
}

TEST(TcpOptions, ValueShorterThanKindNeedsIsMalformedAfterItsName)
{
    /* mss with 1 data byte left in the header. */
    printed p = print({2, 3, 5});
    EXPECT_EQ(p.text, "    < mss > ");
    EXPECT_EQ(p.out, "[bad opt]");
    /* timestamp with room for the first value but not the second. */
    p = print({8, 6, 0, 0, 0, 9});
    EXPECT_EQ(p.text, "    < timestamp 9 > ");
    EXPECT_EQ(p.out, "[bad opt]");
    /* md5 with fewer than 16 data bytes. */
    p = print({19, 4, 1, 2});
    EXPECT_EQ(p.text, "    < md5: > ");
    EXPECT_EQ(p.out, "[bad opt]");
}

TEST(TcpOptions, ShortLengthByteStillReadsValueFromFollowingBytes)
{
    /* mss that says 2 bytes long: its value comes from the next two bytes,
     * and the list goes on after them. */
    EXPECT_EQ(print({2, 2, 5, 180, 1, 1}).text, "    < mss 1460[len 2] , nop , nop > ");
    EXPECT_EQ(print({4, 3, 1, 1}).text, "    < sackOK[len 3] , nop , nop > ");
}

TEST(TcpOptions, NamedValueKinds)
{
    EXPECT_EQ(print({6, 6, 0, 0, 1, 0, 7, 6, 0, 0, 0, 2}).text, "    < echo 256 , echoreply 2 > ");
    EXPECT_EQ(print({11, 6, 0, 0, 0, 3, 12, 6, 0, 0, 0, 4, 13, 6, 0xff, 0xff, 0xff, 0xff}).text,
              "    < cc 3 , ccnew 4 , ccecho 4294967295 > ");
    EXPECT_EQ(print({3, 3, 14, 1}).text, "    < wscale 14 , nop > ");
    EXPECT_EQ(print({9, 2, 10, 3, 0x0f}).text, "    < opt-9: , opt-10:0f > ");
}

TEST(TcpOptions, SackBlocksWrapBelowBase)
{
    EXPECT_EQ(print({5, 18, 0, 0, 0, 5, 0, 0, 0, 9, 0, 0, 0, 20, 0, 0, 0, 30}, 10).text,
              "    < sack 2 {4294967291:4294967295}{10:20} > ");
}

TEST(TcpOptions, OptionsPastTheCopyEndWithTruncationMark)
{
    const opts full = {2, 4, 5, 180, 4, 2, 8, 10, 0, 0, 0, 1, 0, 0, 0, 0, 1, 3, 3, 7};
    const char *want[] = {
        "    <  [|tcp]",
        "    <  [|tcp]",
        "    < mss [|tcp]",
        "    < mss [|tcp]",
        "    < mss 1460 ,  [|tcp]",
        "    < mss 1460 ,  [|tcp]",
        "    < mss 1460 , sackOK ,  [|tcp]",
        "    < mss 1460 , sackOK ,  [|tcp]",
        "    < mss 1460 , sackOK , timestamp [|tcp]",
        "    < mss 1460 , sackOK , timestamp [|tcp]",
        "    < mss 1460 , sackOK , timestamp [|tcp]",
        "    < mss 1460 , sackOK , timestamp [|tcp]",
        "    < mss 1460 , sackOK , timestamp 1 [|tcp]",
        "    < mss 1460 , sackOK , timestamp 1 [|tcp]",
        "    < mss 1460 , sackOK , timestamp 1 [|tcp]",
        "    < mss 1460 , sackOK , timestamp 1 [|tcp]",
        "    < mss 1460 , sackOK , timestamp 1 0 ,  [|tcp]",
        "    < mss 1460 , sackOK , timestamp 1 0 , nop ,  [|tcp]",
        "    < mss 1460 , sackOK , timestamp 1 0 , nop ,  [|tcp]",
        "    < mss 1460 , sackOK , timestamp 1 0 , nop , wscale [|tcp]",
    };
    for (size_t held = 0; held < full.size(); held++) {
        printed p = print(opts(full.begin(), full.begin() + (long)held), 0, (int)full.size());
        EXPECT_EQ(p.text, want[held]) << held << " bytes held";
        EXPECT_EQ(p.end, OPTIONS_CUT);
        EXPECT_EQ(p.out, "");
    }
}

TEST(TcpOptions, CutSackBlockAndHexData)
{
    printed p = print({5, 18, 0, 0, 0, 5, 0, 0, 0, 9, 0, 0, 0, 20}, 0, 18);
    EXPECT_EQ(p.text, "    < sack 2 {5:9} [|tcp]");
    p = print({30, 6, 0xab, 0xcd}, 0, 6);
    EXPECT_EQ(p.text, "    < opt-30:abcd [|tcp]");
}

TEST(TcpOptions, AppendsAfterTextAlreadyThere)
{
    char buf[64] = "x";
    text_out t = text_out_at_end(buf, sizeof buf);
    uint8_t nop = 1;
    format_tcp_options(&nop, 1, 1, 0, &t);
    EXPECT_EQ(std::string(buf), "x    < nop > ");
}

/* The option walk that forms no text ends as the printer does, on the
 * table rows cut at every length and on random option bytes of every
 * kind, well and badly formed, with every count and copy cut; and so
 * does the question of a whole header (malformed end?), which tells two
 * nops and a timestamp without the walk. */
TEST(TcpOptions, WalkWithoutTextEndsAsThePrinter)
{
    std::mt19937 rng(23);
    auto below = [&rng](uint32_t n) { return (uint32_t)(rng() % n); };
    static const uint8_t kinds[] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 11, 12, 13, 19, 30, 254};
    std::vector<opts> cases;
    for (const option_row &row : option_rows)
        cases.push_back(row.bytes);
    for (int n = 0; n < 100000; n++) {
        opts o;
        bool timestamps = below(8) == 0;   /* two nops and a timestamp, mostly */
        if (timestamps)
            o = {1, 1, 8, 10};
        uint32_t len = timestamps ? 12 : 1 + below(40);
        while (o.size() < len) {
            o.push_back(kinds[below(sizeof kinds)]);
            if (below(4) != 0)
                o.push_back((uint8_t)(below(4) == 0 ? below(256) : below(20)));
            uint32_t data = below(12);
            for (uint32_t k = 0; k < data && o.size() < len; k++)
                o.push_back((uint8_t)rng());
        }
        if (timestamps)
            o.resize(below(8) == 0 ? 8 + 4 * below(3) : 12);
        cases.push_back(o);
    }
    int ends[3] = {0, 0, 0}, plain = 0;
    g_dropnote.quiet = 1;   /* the marks of 100,000 lists are counted */
    for (const opts &o : cases) {
        uint32_t count = (uint32_t)o.size();
        for (uint32_t held : {count, below(count + 1), below(count + 1)}) {
            std::unique_ptr<uint8_t[]> bytes(new uint8_t[held == 0 ? 1 : held]);
            std::copy(o.begin(), o.begin() + held, bytes.get());
            char buf[512] = "";
            text_out t = text_out_at_end(buf, sizeof buf);
            option_end printed_end = format_tcp_options(bytes.get(), count, held, 0, &t);
            ASSERT_EQ(tcp_options_end(bytes.get(), count, held), printed_end)
                << buf << " (" << held << " of " << count << " bytes held)";
            ends[printed_end]++;
            if (count % 4 != 0)
                continue;
            std::unique_ptr<uint8_t[]> header(new uint8_t[20 + held]());
            header[12] = (uint8_t)((20 + count) / 4 << 4);
            std::copy(o.begin(), o.begin() + held, header.get() + 20);
            ASSERT_EQ(tcp_options_may_end_malformed(header.get(), (int32_t)(20 + held)),
                      printed_end == OPTIONS_MALFORMED) << buf;
            plain += count == 12 && held == 12 && o[0] == 1 && o[1] == 1 && o[2] == 8 && o[3] == 10;
        }
    }
    g_dropnote.quiet = 0;
    EXPECT_GT(ends[OPTIONS_DONE], 10000);
    EXPECT_GT(ends[OPTIONS_MALFORMED], 10000);
    EXPECT_GT(ends[OPTIONS_CUT], 10000);
    EXPECT_GT(plain, 5000);
}

}  // namespace
