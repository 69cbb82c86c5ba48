/*
 * loadfail_test.cpp --
 *
 *	How a load fails when a pass runs on a second thread: a failure on a
 *	deferring thread is kept for the thread that started it and nothing
 *	is written, other threads keep the plain behaviour, and a failure
 *	that ends the process first waits for the second thread through the
 *	before_exit hook.
 */

#include "capture/loadfail.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <thread>

namespace {

class LoadFailTest : public testing::Test {
protected:
    void SetUp() override { loadfail_reset(); }
    void TearDown() override { loadfail_reset(); }
};

TEST_F(LoadFailTest, DeferringThreadKeepsTheFailureAndWritesNothing)
{
    deferred_failure kept{false, 0, ""};
    bool threw = false;
    testing::internal::CaptureStderr();
    std::thread helper([&] {
        loadfail_defer_to(&kept);
        try {
            load_failf(-1, "%s: %s\n", "malloc", "Cannot allocate memory");
        } catch (const load_error &e) {
            threw = e.status == -1;
        }
        loadfail_defer_to(nullptr);
    });
    helper.join();
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_TRUE(threw);
    EXPECT_TRUE(kept.failed);
    EXPECT_EQ(kept.status, -1);
    EXPECT_EQ(kept.text, "malloc: Cannot allocate memory\n");
    EXPECT_EQ(g_loadfail.message, "");

    /* This thread never deferred: a trapped failure writes and keeps. */
    loadfail_trap_begin();
    testing::internal::CaptureStderr();
    EXPECT_THROW(load_fail(kept.status, kept.text), load_error);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "malloc: Cannot allocate memory\n");
    EXPECT_EQ(g_loadfail.message, "malloc: Cannot allocate memory");
    loadfail_trap_end();
}

void say_joined()
{
    std::fputs("joined\n", stderr);
}

TEST_F(LoadFailTest, FailureThatEndsTheProcessRunsBeforeExitFirst)
{
    g_loadfail.before_exit = say_joined;
    EXPECT_EXIT(load_fail(7, "Fatal: no lines\n"), testing::ExitedWithCode(7),
                "^Fatal: no lines\njoined\n$");
}

}  // namespace
