/*
 * give_way_test.cpp --
 *
 *	A pass beside the analysis waits at its pause point while an analysis
 *	helper holds a claim, through nested claims, and goes on when the
 *	last is released; without a claim the pause point does not wait. A
 *	scope releases its claim on every way out.
 */

#include "analysis/give_way.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <stdexcept>
#include <thread>

namespace {

/* A thread that passes one pause point, and whether it has. */
struct beside {
    std::atomic<bool> passed{false};
    std::thread thread{[this] {
        give_way_pause_point();
        passed = true;
    }};
    ~beside()
    {
        if (thread.joinable())
            thread.join();
    }
};

void settle()
{
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
}

TEST(GiveWay, PassesBesideWaitWhileAHelperRuns)
{
    give_way_pause_point();  /* no claim: returns at once */

    give_way_claim();
    give_way_claim();
    {
        beside b;
        settle();
        EXPECT_FALSE(b.passed);
        give_way_release();  /* one claim still stands */
        settle();
        EXPECT_FALSE(b.passed);
        give_way_release();
        b.thread.join();
        EXPECT_TRUE(b.passed);
    }

    /* A scope holds its claim until released or left, even by a throw. */
    try {
        give_way_scope claim(true);
        beside b;
        settle();
        EXPECT_FALSE(b.passed);
        claim.release();
        b.thread.join();
        EXPECT_TRUE(b.passed);
        give_way_scope thrown(true);
        throw std::runtime_error("leaves the scope");
    } catch (const std::runtime_error &) {
    }
    give_way_scope none(false);
    beside after;
    after.thread.join();
    EXPECT_TRUE(after.passed);
}

}  // namespace
