/*
 * beside.cpp --
 *
 *	load_beside: the load on a second thread, its failure handed back.
 */

#include "load/beside.h"

#include <exception>
#include <system_error>
#include <thread>

#include "capture/loadfail.h"

namespace {

/* What the load's thread ended with; read after the join. */
struct load_outcome {
    deferred_failure failure{false, 0, std::string()};
    std::exception_ptr error;
};

void run_load(const std::function<void()> *load, load_outcome *out)
{
    loadfail_defer_to(&out->failure);
    try {
        (*load)();
    } catch (const load_error &) {
        /* kept in out->failure */
    } catch (...) {
        out->error = std::current_exception();
    }
    loadfail_defer_to(nullptr);
}

}  // namespace

void load_beside(const std::function<void()> &load, const std::function<void()> &work)
{
    load_outcome out;
    std::thread t;
    try {
        t = std::thread(run_load, &load, &out);
    } catch (const std::system_error &) {
        load();
        work();
        return;
    }
    work();
    t.join();
    if (out.error)
        std::rethrow_exception(out.error);
    if (out.failure.failed)
        load_fail(out.failure.status, out.failure.text);
}
