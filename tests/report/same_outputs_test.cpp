/*
 * same_outputs_test.cpp --
 *
 *	Every output of wirepaint, byte for byte, against the build this work
 *	started from (36c046d): -S, -E, -x, -L, the ladder and graph pictures
 *	and every segment's detail text, of every bundled capture, the bundled
 *	pairs and a generated pair, kept as the first 12 hex digits of each
 *	output's SHA-256; a differing digest names its capture and mode.
 *	WIREPAINT_PRINT_DIGESTS=1 prints the rows instead, for a deliberate
 *	change to replace the digests it moves (with a comment saying why).
 */

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>

#include "load/loader.h"
#include "text/detail.h"
#include "trace/trace.h"

namespace {

/* The modes of a row of one capture, then of two, in digest order:
 * options (OUT: the picture written), or "text": every detail text. */
const char *const kOneFileModes[] = {
    "-S", "-E", "-x -", "-L", "-o OUT.svg", "-G tsg -o OUT.svg", "-G tput -o OUT.svg",
    "-G rtt -o OUT.svg", "-G owd -o OUT.svg", "-G inflight -o OUT.svg", "-G tsg:RL -o OUT.png",
    "text", nullptr};
const char *const kTwoFileModes[] = {"-S", "-k -S", "-E", "-x -", "-o OUT.svg",
                                     "-G owd -o OUT.svg", "text", nullptr};

/* Captures under examples/, or "bench-*" (gen_capture -n 100000). The
 * digests of -S (and -k -S) moved when -S came to name the capture host
 * and its evidence (668a6a9) and the ends' waits (90f98a9), those of -L
 * with the health table's columns (2d57127), and drift-receiver's -E and
 * -x when a direction's own FIN ended its stalls (90f98a9); the others
 * are those of 36c046d. */
const char *const kRows[][2] = {
    {"sender.pcap",
     "2dd7a37eada1 1b876ef252ec 24d4450f59c2 6c64388f045a 733140431bb9 f99faa731478 18a6d7e25f61 3ae37bafb47d da4f4b626775 df479aaf6df7 8f36d64feb7e 158f03b48e48"},
    {"receiver.pcap",
     "453eafb6de22 138e4ff956f3 f61fc5ea8e4d b9364518aece 01ed4d390f22 e3e34570aeb6 68b4f053a7b8 25dace34d161 c2572264876a adc65f3182ec 238463f720be 2acfc2faeec8"},
    {"sender.pcapng",
     "2dd7a37eada1 1b876ef252ec 24d4450f59c2 9f59b9ada942 733140431bb9 f99faa731478 18a6d7e25f61 3ae37bafb47d da4f4b626775 df479aaf6df7 8f36d64feb7e 158f03b48e48"},
    {"bulk-loss-sender.pcap",
     "fffed1b0e978 9600992e0e57 bf0cd89f0607 6ac6f0fbb329 150f5000edd6 f913407c1ae1 a787017c34b9 fc47d3e17e16 082c1dc324b8 18434de691ce 03d2460db37c 40a63ef93979"},
    {"bulk-loss-receiver.pcap",
     "3ad3b97a506c 82165dc12cae aa78c636ed44 13551dc9a7ce 4562af6684ab 34899caf0cc1 ef9f6725b582 36b11e086c3e bc585e2ff02a 2ef1239ab1e6 8032e395ab95 b55e13ecc095"},
    {"drift-sender.pcap",
     "f7ec25f0535e 69cc057caf12 317b7e42d534 012de3ac92cd 7e48302c54b2 fcf11175fba0 ab915664ff40 3715e161382e b09a253466f0 0452b7eb7e56 5e3fa65a95e5 4c354018a445"},
    {"drift-receiver.pcap",
     "7ce92b09f884 a1b125dc3f2d 8b395e7b5357 5b989a712ace 704dc3c2a34b c2b6cbb07dae 4634a473f844 698707448950 158827facf96 cc48f79502b4 7a8d9b49ee64 86477b14e4e1"},
    {"keepalive.pcap",
     "a666da5dc911 e4925166a6d4 6d857f644545 b93d1ba738ba c66ce4f174e7 d1e1b1b7a690 3d137b4f4bc6 33cac907eb1d 9f0c358ed9c6 5c756d85323e c9cd2abda6c7 64dcf1520a40"},
    {"lan-client.pcap",
     "2444d943528e ee6d669e4036 a44e52d080d5 cab6bbb313fb 1b4c6756e7b3 14f20b1861b0 c8d071dff099 12465b571838 f2baa13b2edb c367e0a42ffb 073cbf4ad3a6 07dff86921b3"},
    {"lan-server.pcap",
     "a92ad6db06b1 69254412daf5 a6941b3cdc88 2e635a726d28 30cc96c2c54e 435063148297 967d145240c8 7e35e0582e1a 06715456a347 88a8c1d466ef b33ca7a83e73 ebcd8a626e5a"},
    /* -S, -E and -x of the two loopback captures: the packets of other
     * connections are counted, no longer written on standard output,
     * when it carries results (the quiet output of a87149c). */
    {"loopback-any-sll.pcap",
     "48b6065f2951 6088715cfbd7 b1e263bbe16b cb82ce058366 7097a580f85e e4228ef4393b 3fa5afdff9ad 6d9012fef5fe 184a5f15d371 ad727a50e669 915efe2cc5a4 47b0e9614221"},
    /* The same three, as the capture above. */
    {"loopback-any.pcap",
     "40e77e830537 6088715cfbd7 ab523ee64fa7 5679526e1da7 6d5d7a6493da 867da6a809f0 5041ce54f027 3da73c584166 37560c0d038e 472c0ebce925 cc7b73352831 e245c1bab832"},
    {"slow-reader.pcap",
     "a878408d1add b59f381eb0d8 b8bb47a33392 a8a385ff6f32 7a0763819c86 f38d7db4710a 2dbe8ec31255 c81c0c1443b4 d2cece7b559b ddbb8d53850d 50dc379b10bc 75bde7f6a7a8"},
    {"timeout.pcap",
     "f8cdb3e3eb03 8efb821f155a 5e746836443e 61b90c21c07b 6176eddd1e28 4cc87a4ceb66 9b1b3ab0de1d 3ddb1c336eed 72d6d5c3505b 452318eb783c 1bd5b89b0e6b 00d4bf7e9f55"},
    {"bench-sender.pcap",
     "ccfd3327a76d 609248d90a5b 7d2f11cd5fb5 73bf7fc18434 d3b78f1e59ee d43ac7461395 c2f2f94b218d 7bd0272fec6c 3b140ec7ff97 26b2eba84970 60615e9543bd 2d69e44c8621"},
    {"sender.pcap receiver.pcap",
     "c2c7241bcade bcc3e5c8c811 1b876ef252ec 02bdfe7ba44c 7cf7a05cb3c3 6698acc63e09 158f03b48e48"},
    /* -S and -k -S of this pair and of lan-client/lan-server: their
     * directions' fits disagree by far more than the samples allow, so
     * no skew is reported, -k keeps the one offset, and the offset at
     * the start is the one the first copies measure. */
    {"bulk-loss-sender.pcap bulk-loss-receiver.pcap",
     "3343b0b1f42b 3343b0b1f42b 82165dc12cae f4a9865988fd 1474e0ad6a65 d4edfbd19183 b55e13ecc095"},
    {"drift-sender.pcap drift-receiver.pcap",
     "0b3e4716a291 c81235ccbb91 69cc057caf12 1c37dec69e8d 92f5eb8c8448 1c46d883fd96 4c354018a445"},
    {"lan-client.pcap lan-server.pcap",
     "ad7bb181df04 ad7bb181df04 ee6d669e4036 93cd2bc158fa 731fe3581703 d0c483614c60 07dff86921b3"},
    {"bench-sender.pcap bench-receiver.pcap",
     "d7755ae638f4 5ff3a9be2560 609248d90a5b fe3f48754ce5 4d9a1aea5312 fe11791ba63e 2d69e44c8621"},
};

/* The first 12 hex digits of the SHA-256 of what `command` writes. */
std::string digest_of(const std::string &command)
{
    FILE *p = popen(("( " + command + " ) | sha256sum").c_str(), "r");
    char buf[80] = {0};
    size_t n = p != nullptr ? std::fread(buf, 1, sizeof buf - 1, p) : 0;
    if (p != nullptr)
        pclose(p);
    return std::string(buf, n < 12 ? n : 12);
}

/* examples/, or the build directory with the generated pair made once. */
std::string directory_of(const std::string &captures)
{
    if (captures.compare(0, 6, "bench-") != 0)
        return WIREPAINT_SOURCE_DIR "/examples";
    static int made = std::system("cd " WIREPAINT_BINARY_DIR " && { test -s bench-receiver.pcap || "
                                  "./gen_capture -n 100000 bench-sender.pcap bench-receiver.pcap; "
                                  "} 2>/dev/null");
    (void)made;
    return WIREPAINT_BINARY_DIR;
}

/* One run without a display, in the captures' directory (-L shows their
 * names): standard output, exit status and picture file. */
std::string run_digest(const std::string &captures, std::string mode)
{
    std::string out = WIREPAINT_BINARY_DIR "/same-outputs";
    size_t at = mode.find("OUT");
    std::string file = "/dev/null";
    if (at != std::string::npos) {
        file = out + mode.substr(at + 3, 4);
        mode.replace(at, 3, out);
    }
    return digest_of("cd " + directory_of(captures) + " && rm -f " + out + ".* && { env -u DISPLAY " +
                     WIREPAINT_BINARY " " + mode + " " + captures +
                     " 2>/dev/null; echo \"status $?\"; cat " + file + "; }");
}

/* Every line's detail text after a load in this process. */
std::string text_digest(const std::string &captures)
{
    std::string dir = directory_of(captures) + "/";
    size_t blank = captures.find(' ');
    std::string a = dir + captures.substr(0, blank);
    std::string b = blank == std::string::npos ? "" : dir + captures.substr(blank + 1);
    char *argv[2] = {&a[0], &b[0]};
    trace_state_clear();
    load_traces(b.empty() ? 1 : 2, argv, 1);
    std::string path = WIREPAINT_BINARY_DIR "/same-outputs.txt";
    FILE *f = std::fopen(path.c_str(), "w");
    for (int32_t i = 0; f != nullptr && i < g_trace.main.count; i++)
        std::fprintf(f, "%d %s\n", i, segment_detail_text(i, 0));
    if (f != nullptr)
        std::fclose(f);
    trace_state_clear();
    return digest_of("cat " + path);
}

TEST(SameOutputs, EveryModeOfEveryCaptureAsTheReference)
{
    bool print = std::getenv("WIREPAINT_PRINT_DIGESTS") != nullptr;
    for (const auto &row : kRows) {
        std::string captures = row[0], got_all, want;
        std::istringstream wants(row[1]);
        const char *const *modes = captures.find(' ') == std::string::npos ? kOneFileModes
                                                                            : kTwoFileModes;
        for (; *modes != nullptr; modes++) {
            std::string mode = *modes;
            std::string got = mode == "text" ? text_digest(captures) : run_digest(captures, mode);
            got_all += (got_all.empty() ? "" : " ") + got;
            wants >> want;
            if (!print) {
                EXPECT_EQ(got, want) << "row {" << captures << ", " << mode << "} differs";
            }
        }
        if (print)
            std::printf("    {\"%s\",\n     \"%s\"},\n", captures.c_str(), got_all.c_str());
    }
}

}  // namespace
