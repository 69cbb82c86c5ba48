/*
 * prefault.cpp --
 *
 *	The populate-ahead helper (see prefault.h): a thread waiting on a
 *	small ring of ranges.
 */

#include "capture/prefault.h"

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <system_error>
#include <thread>

#include <sys/mman.h>
#include <unistd.h>

namespace {

/* Ranges the queue holds at once. The reader asks a few megabytes ahead
 * of itself, so a short queue is never full in practice. */
constexpr int QUEUE = 32;

/* What the helper does with a range. */
enum range_kind : uint8_t {
    POPULATE_WRITE,   /* fault in memory that is to be written */
    POPULATE_READ,    /* map in a file mapping that is to be read */
    RELEASE           /* give a file mapping's pages back */
};

struct range {
    void *p;
    size_t len;
    range_kind kind;
};

/* A range of prefault_ask_later is populated this much at a time. */
constexpr size_t LATER_PIECE = size_t{2} << 20;

/* A ring of ranges. */
struct range_queue {
    range item[QUEUE];
    int first;   /* oldest */
    int count;   /* queued */

    bool push(void *p, size_t len, range_kind kind)
    {
        if (count == QUEUE)
            return false;
        item[(first + count) % QUEUE] = range{p, len, kind};
        count++;
        return true;
    }
    range pop()
    {
        range r = item[first];
        first = (first + 1) % QUEUE;
        count--;
        return r;
    }
    /* At most `most` bytes from the front of the oldest range. */
    range pop_piece(size_t most)
    {
        range &r = item[first];
        if (r.len <= most)
            return pop();
        range piece{r.p, most, r.kind};
        r.p = static_cast<char *>(r.p) + most;
        r.len -= most;
        return piece;
    }
};

/*
 * The helper's state, one instance. `thread` is joinable between
 * prefault_begin and prefault_end; the other fields are under `lock`.
 */
struct prefault_state {
    std::thread thread;
    std::mutex lock;
    std::condition_variable wake;  /* a request came, or stop */
    std::condition_variable room;  /* the helper took a request */
    range_queue now;               /* requests of prefault_ask */
    range_queue later;             /* requests of prefault_ask_later */
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

void carry_out(const range &r)
{
    if (r.kind == RELEASE) {
        madvise(r.p, r.len, MADV_DONTNEED);
        return;
    }
#ifdef MADV_POPULATE_WRITE
    madvise(r.p, r.len, r.kind == POPULATE_READ ? MADV_POPULATE_READ : MADV_POPULATE_WRITE);
#endif
}

void helper_main()
{
    prefault_state &s = g_prefault;
    std::unique_lock<std::mutex> hold(s.lock);
    for (;;) {
        s.wake.wait(hold, [&] { return s.now.count > 0 || s.later.count > 0 || s.stop; });
        if (s.stop && (!s.finish || s.now.count == 0))
            return;
        range r = s.now.count > 0 ? s.now.pop() : s.later.pop_piece(LATER_PIECE);
        s.room.notify_one();
        hold.unlock();
        carry_out(r);
        hold.lock();
    }
}

}  // namespace

void prefault_begin()
{
    prefault_state &s = g_prefault;
    if (s.thread.joinable() || !kernel_populates())
        return;
    s.now.first = s.now.count = 0;
    s.later.first = s.later.count = 0;
    s.stop = s.finish = false;
    try {
        s.thread = std::thread(helper_main);
    } catch (const std::system_error &) {
        /* no helper: the reader takes its own pages */
    }
}

namespace {

/*
 * Widens [*p, *p + *len) to start on a page boundary: madvise refuses a
 * range that does not (EINVAL), and the reader's request for the records
 * from some index on rarely starts on one. The page before such a range
 * belongs to the same mapping, and populating it changes no byte.
 */
void page_start(void **p, size_t *len)
{
    static const uintptr_t page = static_cast<uintptr_t>(sysconf(_SC_PAGESIZE));
    uintptr_t at = reinterpret_cast<uintptr_t>(*p);
    uintptr_t start = at / page * page;
    *p = reinterpret_cast<void *>(start);
    *len += at - start;
}

void ask(range_queue prefault_state::*queue, void *p, size_t len, range_kind kind = POPULATE_WRITE)
{
    prefault_state &s = g_prefault;
    if (!s.thread.joinable() || p == nullptr || len == 0)
        return;
    page_start(&p, &len);
    std::lock_guard<std::mutex> hold(s.lock);
    if ((s.*queue).push(p, len, kind))
        s.wake.notify_one();
}

}  // namespace

void prefault_ask(void *p, size_t len)
{
    ask(&prefault_state::now, p, len);
}

void prefault_ask_read(const void *p, size_t len)
{
    ask(&prefault_state::now, const_cast<void *>(p), len, POPULATE_READ);
}

void prefault_release(const void *p, size_t len)
{
    prefault_state &s = g_prefault;
    void *q = const_cast<void *>(p);
    if (len == 0)
        return;
    if (!s.thread.joinable()) {
        madvise(q, len, MADV_DONTNEED);
        return;
    }
    std::unique_lock<std::mutex> hold(s.lock);
    s.room.wait(hold, [&] { return s.now.count < QUEUE; });
    s.now.push(q, len, RELEASE);
    s.wake.notify_one();
}

void prefault_ask_later(void *p, size_t len)
{
    ask(&prefault_state::later, p, len);
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
    /* The releases still queued: a range the walk has passed must not
     * stay mapped in. */
    while (s.now.count > 0) {
        range r = s.now.pop();
        if (r.kind == RELEASE)
            carry_out(r);
    }
    s.later.count = 0;
}

bool prefault_running()
{
    return g_prefault.thread.joinable();
}
