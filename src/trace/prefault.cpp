/*
 * prefault.cpp --
 *
 *	The populate-ahead helper (see prefault.h): a thread waiting on a
 *	small ring of ranges.
 */

#include "trace/prefault.h"

#include <condition_variable>
#include <mutex>
#include <system_error>
#include <thread>

#include <sys/mman.h>

namespace {

/* Ranges the queue holds at once. The reader asks a few megabytes ahead
 * of itself, so a short queue is never full in practice. */
constexpr int QUEUE = 32;

struct range {
    void *p;
    size_t len;
};

/*
 * The helper's state, one instance. `thread` is joinable between
 * prefault_begin and prefault_end; the other fields are under `lock`.
 */
struct prefault_state {
    std::thread thread;
    std::mutex lock;
    std::condition_variable wake;  /* a request came, or stop */
    range queue[QUEUE];            /* ring of requests */
    int first;                     /* oldest request */
    int count;                     /* requests queued */
    bool stop;                     /* end: the helper leaves */
    bool finish;                   /* ... after the queued requests */
};

/* Never destroyed: the process may end (exit) while the helper runs,
 * and a destroyed joinable thread would abort it. */
prefault_state &g_prefault = *new prefault_state();

/* Whether this kernel populates ahead; asked once with an empty range. */
bool kernel_populates()
{
#ifdef MADV_POPULATE_WRITE
    static const bool ok = madvise(nullptr, 0, MADV_POPULATE_WRITE) == 0;
    return ok;
#else
    return false;
#endif
}

void populate(const range &r)
{
#ifdef MADV_POPULATE_WRITE
    madvise(r.p, r.len, MADV_POPULATE_WRITE);
#else
    (void)r;
#endif
}

void helper_main()
{
    prefault_state &s = g_prefault;
    std::unique_lock<std::mutex> hold(s.lock);
    for (;;) {
        s.wake.wait(hold, [&] { return s.count > 0 || s.stop; });
        if (s.stop && (!s.finish || s.count == 0))
            return;
        range r = s.queue[s.first];
        s.first = (s.first + 1) % QUEUE;
        s.count--;
        hold.unlock();
        populate(r);
        hold.lock();
    }
}

}  // namespace

void prefault_begin()
{
    prefault_state &s = g_prefault;
    if (s.thread.joinable() || !kernel_populates())
        return;
    s.first = s.count = 0;
    s.stop = s.finish = false;
    try {
        s.thread = std::thread(helper_main);
    } catch (const std::system_error &) {
        /* no helper: the reader takes its own pages */
    }
}

void prefault_ask(void *p, size_t len)
{
    prefault_state &s = g_prefault;
    if (!s.thread.joinable() || p == nullptr || len == 0)
        return;
    std::lock_guard<std::mutex> hold(s.lock);
    if (s.count == QUEUE)
        return;
    s.queue[(s.first + s.count) % QUEUE] = range{p, len};
    s.count++;
    s.wake.notify_one();
}

void prefault_end(bool finish)
{
    prefault_state &s = g_prefault;
    if (!s.thread.joinable())
        return;
    {
        std::lock_guard<std::mutex> hold(s.lock);
        s.stop = true;
        s.finish = finish;
        s.wake.notify_one();
    }
    s.thread.join();
    s.count = 0;
}

bool prefault_running()
{
    return g_prefault.thread.joinable();
}
