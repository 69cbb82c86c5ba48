/*
 * pipe_input_test.cpp --
 *
 *	Captures that come through a pipe, run through the real program and
 *	the real compressors: standard input and a named pipe, plain or
 *	compressed by any of the five, print exactly what the file prints;
 *	either of two files may be standard input, not both; a cut stream on
 *	standard input warns and fails as the cut file does.
 */

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>

#include "support/pcapgen.h"

namespace {

const std::string binary = WIREPAINT_BINARY;
const std::string examples = std::string(WIREPAINT_SOURCE_DIR) + "/examples/";

/* What a shell command printed on standard output and standard error,
 * and its exit status. */
struct ran {
    std::string out, err;
    int status;
};

std::string slurp(const std::string &path)
{
    std::ifstream f(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(f), {});
}

ran run(const std::string &cmd)
{
    std::string out = pcapgen::temp_path("out"), err = pcapgen::temp_path("err");
    int rc = std::system(("(" + cmd + ") > '" + out + "' 2> '" + err + "'").c_str());
    return {slurp(out), slurp(err), WIFEXITED(rc) ? WEXITSTATUS(rc) : -1};
}

}  // namespace

TEST(PipeInput, EveryFormThroughStandardInputAndANamedPipe)
{
    std::string sample = examples + "sender.pcap";
    ran want = run(binary + " -S " + sample);
    ASSERT_EQ(want.status, 0);
    ASSERT_NE(want.out, "");
    std::string fifo = pcapgen::temp_path("fifo");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    for (const char *tool : {"cat", "gzip -c", "zstd -q -c", "xz -c", "bzip2 -c", "lz4 -q -c"}) {
        std::string feed = std::string(tool) + " < " + sample;
        ran piped = run(feed + " | " + binary + " -S -");
        EXPECT_EQ(piped.status, 0) << tool << ": " << piped.err;
        EXPECT_EQ(piped.out, want.out) << tool;
        ran named = run(feed + " > " + fifo + " & " + binary + " -S " + fifo);
        EXPECT_EQ(named.status, 0) << tool << ": " << named.err;
        EXPECT_EQ(named.out, want.out) << tool;
    }
    std::remove(fifo.c_str());
}

TEST(PipeInput, TwoFilesOneOfThemStandardInput)
{
    std::string a = examples + "sender.pcap", b = examples + "receiver.pcap";
    ran want = run(binary + " -S " + a + " " + b);
    ASSERT_EQ(want.status, 0);
    ran second = run("gzip -c < " + b + " | " + binary + " -S " + a + " -");
    EXPECT_EQ(second.out, want.out);
    ran first = run("zstd -q -c < " + a + " | " + binary + " -S - " + b);
    EXPECT_EQ(first.out, want.out);
    ran both = run("cat " + a + " | " + binary + " -S - -");
    EXPECT_EQ(both.status, 1);
    EXPECT_EQ(both.out, "");
    EXPECT_EQ(both.err, "wirepaint: standard input (-) can be only one of the two files\n");
}

TEST(PipeInput, ACutStreamOnStandardInputFailsAsTheCutFileDoes)
{
    std::string cut = pcapgen::temp_path("cut.pcap.gz");
    ASSERT_EQ(std::system(("gzip -c < " + examples + "sender.pcap | head -c 9000 > " + cut).c_str()), 0);
    ran file = run(binary + " -S " + cut);
    ran piped = run("cat " + cut + " | " + binary + " -S -");
    EXPECT_EQ(piped.status, file.status);
    EXPECT_EQ(piped.out, file.out);
    std::string said = "wirepaint: warning: " + cut + ": gzip data cut short; read up to the cut\n";
    ASSERT_EQ(file.err.substr(0, said.size()), said);
    std::string as_stdin = file.err;
    for (size_t at; (at = as_stdin.find(cut)) != std::string::npos;)
        as_stdin.replace(at, cut.size(), "-");
    EXPECT_EQ(piped.err, as_stdin);
}
