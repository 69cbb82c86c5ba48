/*
 * give_way.cpp --
 *
 *	The right of way of the analysis's helper threads over the passes
 *	beside the analysis (see give_way.h): a count of the helpers running,
 *	read without the lock on the way through a pause point.
 */

#include "analysis/give_way.h"

#include <atomic>
#include <condition_variable>
#include <mutex>

namespace {

/*
 * The process's one record: `claims` counts the helpers running
 * (give_way_claim adds one, give_way_release takes it off); a pass at a
 * pause point waits on `clear` under `lock` until it is 0. A claim is
 * changed under `lock` too, so that no wake-up falls between a pass's
 * test and its wait.
 */
struct give_way_state {
    std::atomic<int> claims{0};      /* helpers running */
    std::mutex lock;
    std::condition_variable clear;   /* claims fell to 0 */
};

give_way_state g_give_way;

}  // namespace

void give_way_claim()
{
    std::lock_guard<std::mutex> hold(g_give_way.lock);
    g_give_way.claims.fetch_add(1, std::memory_order_relaxed);
}

void give_way_release()
{
    std::lock_guard<std::mutex> hold(g_give_way.lock);
    if (g_give_way.claims.fetch_sub(1, std::memory_order_relaxed) == 1)
        g_give_way.clear.notify_all();
}

void give_way_pause_point()
{
    if (g_give_way.claims.load(std::memory_order_relaxed) == 0)
        return;
    std::unique_lock<std::mutex> hold(g_give_way.lock);
    g_give_way.clear.wait(hold, [] { return g_give_way.claims.load(std::memory_order_relaxed) == 0; });
}
