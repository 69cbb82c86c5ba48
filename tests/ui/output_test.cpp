/*
 * output_test.cpp --
 *
 *	The run without a window: -o writes SVG, PDF, PNG and PostScript that
 *	real readers open, with no display at all; -x writes the CSV table
 *	and -S the statistics; bad -o and -t values end with a message and
 *	status 1; -t moves the window's first view; statistics_clib answers
 *	the script. The option parsing is checked in-process.
 */

#include <gtest/gtest.h>

#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "ui/output.h"
#include "ui/ui_harness.h"

namespace {

const char sender[] = WIREPAINT_SOURCE_DIR "/examples/sender.pcap";
const char receiver[] = WIREPAINT_SOURCE_DIR "/examples/receiver.pcap";

struct headless {
    std::string dir = uitest::make_temp_dir();
    ~headless() { std::filesystem::remove_all(dir); }
    uitest::run_result run(const std::vector<std::string> &args)
    {
        return uitest::run_wirepaint(args, dir, "");
    }
    int sh(const std::string &cmd) { return std::system(("cd " + dir + " && " + cmd).c_str()); }
};

TEST(Output, PicturesInEveryFormatWithoutADisplay)
{
    headless h;
    for (const char *name : {"a.svg", "a.pdf", "a.png", "a.ps", "a.EPS"}) {
        uitest::run_result r = h.run({"-o", name, sender});
        EXPECT_EQ(r.status, 0) << name << ": " << r.err;
        /* No message (a sanitizer build may add its own report). */
        EXPECT_EQ(r.err.find("wirepaint"), std::string::npos) << name << ": " << r.err;
        EXPECT_TRUE(uitest::file_exists(h.dir + "/" + name)) << name;
    }
    /* Default size 1000x800: canvases of 800 and 200 by 800, header and legend. */
    EXPECT_EQ(h.sh("rsvg-convert a.svg -o svg.png"), 0);
    EXPECT_EQ(h.sh("pdftoppm -png -r 72 -singlefile a.pdf pdf"), 0);
    for (const char *png : {"svg.png", "pdf.png", "a.png"}) {
        EXPECT_EQ(h.sh(std::string("identify -format '%w %h' ") + png + " > size.txt"), 0);
        EXPECT_EQ(uitest::read_file(h.dir + "/size.txt"), "1000 842") << png;
    }
    EXPECT_EQ(uitest::read_file(h.dir + "/a.ps").rfind("%!PS-Adobe-3.0\n", 0), 0u);
    EXPECT_EQ(uitest::read_file(h.dir + "/a.EPS").rfind("%!PS-Adobe-3.0 EPSF-3.0", 0), 0u);

    /* -g sets the size; two files draw too. */
    uitest::run_result r = h.run({"-g", "500x300", "-o", "b.png", sender, receiver});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(h.sh("identify -format '%w %h' b.png > size.txt"), 0);
    EXPECT_EQ(uitest::read_file(h.dir + "/size.txt"), "500 342");
}

TEST(Output, BadValuesEndWithAMessageAndStatusOne)
{
    headless h;
    struct {
        std::vector<std::string> args;
        std::string err;
    } rows[] = {
        {{"-o", "x.jpg", sender},
         "wirepaint: -o \"x.jpg\": the file name must end in .svg, .pdf, .png, .ps, .eps or .html\n"},
        {{"-t", "abc", "-o", "x.svg", sender},
         "wirepaint: -t wants FROM:TO, two times in seconds, not \"abc\"\n"},
        {{"-t", "1:", sender}, "wirepaint: -t wants FROM:TO, two times in seconds, not \"1:\"\n"},
        {{"-t", "0.5:0.2", sender}, "wirepaint: -t wants FROM before TO, not \"0.5:0.2\"\n"},
        {{"-t", "0:nan", sender}, "wirepaint: -t wants FROM:TO, two times in seconds, not \"0:nan\"\n"},
        {{"-o", "no-such-dir/x.svg", sender}, ""},
        {{"-x", "no-such-dir/x.csv", sender}, ""},
    };
    for (const auto &r : rows) {
        uitest::run_result res = h.run(r.args);
        EXPECT_EQ(res.status, 1) << r.args[1];
        if (!r.err.empty())
            EXPECT_EQ(res.err, r.err);
        else
            EXPECT_EQ(res.err.rfind("wirepaint: cannot write no-such-dir/x.", 0), 0u) << res.err;
    }
}

TEST(Output, TableAndStatisticsOnStandardOutput)
{
    headless h;
    uitest::run_result r = h.run({"-x", "-", sender});
    ASSERT_EQ(r.status, 0) << r.err;
    std::istringstream in(r.out);
    std::string line;
    int rows = 0;
    while (std::getline(in, line)) {
        EXPECT_EQ(line.back(), '\r');
        rows++;
    }
    EXPECT_EQ(rows, 1 + 492);
    EXPECT_EQ(r.out.rfind("index,direction,class,", 0), 0u);

    r = h.run({"-x", "t.csv", "-S", sender, receiver});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("Copies found:    486 of 492 segments"), std::string::npos) << r.out;
    EXPECT_NE(uitest::read_file(h.dir + "/t.csv").find(",far_end,events\r\n"), std::string::npos);

    /* -E: the events, one per line; the slow reader's zero-window stall. */
    r = h.run({"-E", WIREPAINT_SOURCE_DIR "/examples/slow-reader.pcap"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out.rfind("index time direction kind detail\n", 0), 0u);
    EXPECT_NE(r.out.find(" zero_window -\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("s,zero_window\n"), std::string::npos) << r.out;
}

TEST(Output, SpanMovesTheFirstViewAndStatisticsReachTheScript)
{
    /* 800x600: the main canvas shows 600 rows; -t 0.1:0.3 puts t 0.1 at its
     * top row (region row 300) and gives 3000 px/s. */
    uitest::session s;
    ASSERT_TRUE(s.x.ok());
    s.run("init_clib\n"
          "after idle {\n"
          "  rec stats [string match {*Left host (L):*} [statistics_clib]]\n"
          "  destroy .\n"
          "}\n",
          {"-g", "800x600", "-t", "0.1:0.3", sender});
    ASSERT_EQ(s.result.status, 0) << s.result.err;
    uitest::record times = uitest::events(s.rec, "time");
    ASSERT_FALSE(times.empty());
    /* The last drawing's time stamps: t at row 300 + 3000 (t - 0.1) - 4. */
    uitest::record draws = uitest::events(s.rec, "drawtimes");
    ASSERT_GE(draws.size(), 2u);
    const auto &t = times.back();
    double at = std::stod(t[5]);
    EXPECT_NEAR(std::stod(t[3]), 300 + 3000 * (at - 0.1) - 4, 10.0) << t[5];
    EXPECT_EQ(uitest::events(s.rec, "stats").at(0).at(1), "1");
}

TEST(OutputOptions, ParseIntoTheRequest)
{
    output_request_reset();
    EXPECT_EQ(output_without_window(), 0);
    EXPECT_EQ(note_output_option('t', "-0.5:1e-1"), 1);
    EXPECT_EQ(g_output.have_span, 1);
    EXPECT_FLOAT_EQ(g_output.span_from, -0.5f);
    EXPECT_FLOAT_EQ(g_output.span_to, 0.1f);
    EXPECT_EQ(output_without_window(), 0);
    EXPECT_EQ(note_output_option('S', nullptr), 1);
    EXPECT_EQ(output_without_window(), 1);
    EXPECT_EQ(note_output_option('x', "-"), 1);
    EXPECT_EQ(g_output.table, "-");
    EXPECT_EQ(note_output_option('o', "d.Pdf"), 1);
    EXPECT_EQ(g_output.picture, "d.Pdf");
    EXPECT_EQ(note_output_option('V', nullptr), 0);
    output_request_reset();
    EXPECT_EQ(output_without_window(), 0);
}

}  // namespace
