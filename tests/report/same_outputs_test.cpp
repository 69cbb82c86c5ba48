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
 * -x when a direction's own FIN ended its stalls (90f98a9). -S (its
 * ack-time columns named by what they are) and -L (the verdicts, the round
 * trip and the reason column) moved for every capture, and -E and -x
 * where a silence with nothing owed that the other side ends, or a bare
 * ACK or FIN ends, is no longer an application stall (drift-sender's -E
 * also shows duplicate ACK 865's own reference, which such a stall's
 * took before); the others are those of 36c046d. */
const char *const kRows[][2] = {
    {"sender.pcap",
     "7695c53bb480 1b876ef252ec 24d4450f59c2 5fb22c838a8e 733140431bb9 f99faa731478 18a6d7e25f61 3ae37bafb47d da4f4b626775 df479aaf6df7 8f36d64feb7e 158f03b48e48"},
    {"receiver.pcap",
     "9ba439e116ac 138e4ff956f3 f61fc5ea8e4d 11641db518d8 01ed4d390f22 e3e34570aeb6 68b4f053a7b8 25dace34d161 c2572264876a adc65f3182ec 238463f720be 2acfc2faeec8"},
    {"sender.pcapng",
     "7695c53bb480 1b876ef252ec 24d4450f59c2 58ba1f8c86ca 733140431bb9 f99faa731478 18a6d7e25f61 3ae37bafb47d da4f4b626775 df479aaf6df7 8f36d64feb7e 158f03b48e48"},
    {"bulk-loss-sender.pcap",
     "51cbd11c9faf 9600992e0e57 bf0cd89f0607 9f699833c35d 150f5000edd6 f913407c1ae1 a787017c34b9 fc47d3e17e16 082c1dc324b8 18434de691ce 03d2460db37c 40a63ef93979"},
    {"bulk-loss-receiver.pcap",
     "26f11084db6c 82165dc12cae aa78c636ed44 2146c677e7c3 4562af6684ab 34899caf0cc1 ef9f6725b582 36b11e086c3e bc585e2ff02a 2ef1239ab1e6 8032e395ab95 b55e13ecc095"},
    {"drift-sender.pcap",
     "33b0bd506858 e7992c2d3639 6d74f61cc042 ed189bce44ba 7e48302c54b2 fcf11175fba0 ab915664ff40 3715e161382e b09a253466f0 0452b7eb7e56 5e3fa65a95e5 4c354018a445"},
    {"drift-receiver.pcap",
     "0986bcf13344 a1b125dc3f2d 8b395e7b5357 550b253bd7ee 704dc3c2a34b c2b6cbb07dae 4634a473f844 698707448950 158827facf96 cc48f79502b4 7a8d9b49ee64 86477b14e4e1"},
    {"keepalive.pcap",
     "cc3bc9f6937d 4d4af0102657 1e42ebaee661 a6eb5fc568db c66ce4f174e7 d1e1b1b7a690 3d137b4f4bc6 33cac907eb1d 9f0c358ed9c6 5c756d85323e c9cd2abda6c7 64dcf1520a40"},
    {"lan-client.pcap",
     "0012f5f6caeb 6088715cfbd7 037c70a85801 e5f14e636693 1b4c6756e7b3 14f20b1861b0 c8d071dff099 12465b571838 f2baa13b2edb c367e0a42ffb 073cbf4ad3a6 07dff86921b3"},
    {"lan-server.pcap",
     "acea36d83d01 6088715cfbd7 65a1998c4f00 7dba72d7ec07 30cc96c2c54e 435063148297 967d145240c8 7e35e0582e1a 06715456a347 88a8c1d466ef b33ca7a83e73 ebcd8a626e5a"},
    /* -S, -E and -x of the two loopback captures: the packets of other
     * connections are counted, no longer written on standard output,
     * when it carries results (the quiet output of a87149c). */
    {"loopback-any-sll.pcap",
     "8aa1d4931e55 6088715cfbd7 b1e263bbe16b 5320aee87620 7097a580f85e e4228ef4393b 3fa5afdff9ad 6d9012fef5fe 184a5f15d371 ad727a50e669 915efe2cc5a4 47b0e9614221"},
    /* The same three, as the capture above. */
    {"loopback-any.pcap",
     "a75f7cecb7e7 6088715cfbd7 ab523ee64fa7 83471955d637 6d5d7a6493da 867da6a809f0 5041ce54f027 3da73c584166 37560c0d038e 472c0ebce925 cc7b73352831 e245c1bab832"},
    {"slow-reader.pcap",
     "2479c5509278 3b6760239535 c7c8bfa626e1 07a56a0cae8a 7a0763819c86 f38d7db4710a 2dbe8ec31255 c81c0c1443b4 d2cece7b559b ddbb8d53850d 50dc379b10bc 75bde7f6a7a8"},
    {"timeout.pcap",
     "d7a41646d603 43303c0f64f5 8070d7bb2cd9 91b5387de110 6176eddd1e28 4cc87a4ceb66 9b1b3ab0de1d 3ddb1c336eed 72d6d5c3505b 452318eb783c 1bd5b89b0e6b 00d4bf7e9f55"},
    {"bench-sender.pcap",
     "e002386a1f5e e72626c78bd2 b961ec1cc9b6 041f9cd127d1 d3b78f1e59ee d43ac7461395 c2f2f94b218d 7bd0272fec6c 3b140ec7ff97 26b2eba84970 60615e9543bd 2d69e44c8621"},
    {"sender.pcap receiver.pcap",
     "d58d1a4c4f02 adcf4e8d1fae 1b876ef252ec 02bdfe7ba44c 7cf7a05cb3c3 6698acc63e09 158f03b48e48"},
    /* -S and -k -S of this pair and of lan-client/lan-server: their
     * directions' fits disagree by far more than the samples allow, so
     * no skew is reported, -k keeps the one offset, and the offset at
     * the start is the one the first copies measure. */
    {"bulk-loss-sender.pcap bulk-loss-receiver.pcap",
     "90886f00f223 90886f00f223 82165dc12cae f4a9865988fd 1474e0ad6a65 d4edfbd19183 b55e13ecc095"},
    {"drift-sender.pcap drift-receiver.pcap",
     "81d29a3b11a8 f7e633a69cf0 e7992c2d3639 27bf5269795d 92f5eb8c8448 1c46d883fd96 4c354018a445"},
    {"lan-client.pcap lan-server.pcap",
     "b55927d291d2 b55927d291d2 6088715cfbd7 c1e5dd3e8f6e 731fe3581703 d0c483614c60 07dff86921b3"},
    {"bench-sender.pcap bench-receiver.pcap",
     "69f65cdf24cd 18332b9dfd81 e72626c78bd2 c4117af7aa46 4d9a1aea5312 fe11791ba63e 2d69e44c8621"},
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
