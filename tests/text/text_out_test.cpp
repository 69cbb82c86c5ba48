/*
 * text_out_test.cpp --
 *
 *	The bounded text writer: appends after the text already there, cuts
 *	what does not fit and keeps the buffer zero-terminated.
 */

#include "text/text_out.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(TextOut, AppendsAfterExistingText)
{
    char buf[32] = "ab";
    text_out o = text_out_at_end(buf, sizeof buf);
    EXPECT_EQ(o.len, 2u);
    out_printf(&o, "%d-%s", 7, "x");
    out_flag_item(&o, 'S');
    out_str(&o, "!");
    EXPECT_EQ(std::string(buf), "ab7-x S !");
    EXPECT_EQ(o.len, 9u);
}

TEST(TextOut, CutsAtBufferEndAndStaysTerminated)
{
    char buf[8] = "";
    text_out o = text_out_at_end(buf, sizeof buf);
    out_str(&o, "12345");
    out_str(&o, "6789");
    EXPECT_EQ(std::string(buf), "1234567");
    EXPECT_EQ(o.len, 7u);
    out_flag_item(&o, 'x');
    EXPECT_EQ(std::string(buf), "1234567");
}

TEST(TextOut, UnterminatedBufferCountsAsFull)
{
    char buf[4] = {'a', 'b', 'c', 'd'};
    text_out o = text_out_at_end(buf, sizeof buf);
    EXPECT_EQ(o.len, 3u);
    EXPECT_EQ(std::string(buf), "abc");
    out_str(&o, "z");
    EXPECT_EQ(std::string(buf), "abc");
}

TEST(TextOut, DiscardingWriterKeepsNothing)
{
    text_out o = text_out_discarding();
    EXPECT_TRUE(out_discards(&o));
    out_printf(&o, "%d-%s", 7, "x");
    out_flag_item(&o, 'S');
    out_str(&o, "!");
    EXPECT_EQ(o.len, 0u);
    EXPECT_EQ(o.buf, nullptr);
    char buf[4] = "";
    text_out real = text_out_at_end(buf, sizeof buf);
    EXPECT_FALSE(out_discards(&real));
}

TEST(TextOut, TruncationMarkText)
{
    EXPECT_STREQ(truncated_mark, " [|tcp]");
}

}  // namespace
