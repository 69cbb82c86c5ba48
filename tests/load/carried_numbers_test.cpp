/*
 * carried_numbers_test.cpp --
 *
 *	Every record of every bundled capture, loaded alone and in the pairs
 *	in both orders, gives back the ports and the sequence and
 *	acknowledgement numbers its packet carries, the peer trace's records
 *	(numbered from their own file's first segment) as well as the main
 *	trace's, from a handful of flow entries per file.
 */

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "load/loader.h"
#include "support/carried.h"
#include "trace/trace.h"

namespace {

void quiet_load(const std::vector<std::string> &files)
{
    std::vector<char *> argv;
    for (const std::string &f : files)
        argv.push_back(const_cast<char *>(f.c_str()));
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    load_traces(static_cast<int>(argv.size()), argv.data(), 1);
    testing::internal::GetCapturedStderr();
    testing::internal::GetCapturedStdout();
}

class CarriedNumbers : public testing::Test {
protected:
    void SetUp() override { trace_state_clear(); }
    void TearDown() override { trace_state_clear(); }
};

TEST_F(CarriedNumbers, EveryRecordOfTheBundledCapturesGivesBackItsHeader)
{
    const std::string dir = std::string(WIREPAINT_SOURCE_DIR) + "/examples/";
    if (FILE *f = std::fopen((dir + "sender.pcap").c_str(), "rb"))
        std::fclose(f);
    else
        GTEST_SKIP() << "sample captures not present";
    const std::vector<std::vector<const char *>> rows = {
        {"sender.pcap"}, {"receiver.pcap"}, {"sender.pcapng"}, {"bulk-loss-sender.pcap"},
        {"bulk-loss-receiver.pcap"}, {"drift-sender.pcap"}, {"drift-receiver.pcap"},
        {"keepalive.pcap"}, {"lan-client.pcap"}, {"lan-server.pcap"}, {"loopback-any-sll.pcap"},
        {"loopback-any.pcap"}, {"midstream-acks.pcap"}, {"midstream-many.pcap"},
        {"midstream-window.pcap"}, {"midstream.pcap"}, {"offload-receiver.pcap"},
        {"offload-router.pcap"}, {"offload-sender.pcap"}, {"slow-client.pcap"},
        {"slow-path.pcap"}, {"slow-reader.pcap"}, {"slow-server.pcap"}, {"timeout.pcap"},
        {"sender.pcap", "receiver.pcap"}, {"receiver.pcap", "sender.pcap"},
        {"bulk-loss-sender.pcap", "bulk-loss-receiver.pcap"},
        {"bulk-loss-receiver.pcap", "bulk-loss-sender.pcap"},
        {"drift-sender.pcap", "drift-receiver.pcap"}, {"drift-receiver.pcap", "drift-sender.pcap"},
        {"lan-client.pcap", "lan-server.pcap"}, {"lan-server.pcap", "lan-client.pcap"},
    };
    for (const std::vector<const char *> &row : rows) {
        std::vector<std::string> files;
        std::string about;
        for (const char *name : row) {
            files.push_back(dir + name);
            about += std::string(about.empty() ? "" : " ") + name;
        }
        quiet_load(files);
        ASSERT_EQ(g_trace.loaded, 1) << about;
        ASSERT_GT(g_trace.main.count, 0) << about;
        EXPECT_EQ(carried::first_mismatch(g_trace.main), "") << about << ", main trace";
        EXPECT_EQ(g_trace.peer.count > 0, row.size() == 2) << about;
        EXPECT_EQ(carried::first_mismatch(g_trace.peer), "") << about << ", peer trace";
        EXPECT_LE(g_trace.flows.count, 8 * static_cast<int32_t>(row.size())) << about;
    }
}

}  // namespace
