/*
 * loadfail.cpp --
 *
 *	Failures and warnings of loading: written on standard error exactly
 *	as the command line has always shown them, and then either the end
 *	of the process or, inside a trapped load, a load_error for the
 *	window to report.
 */

#include "capture/loadfail.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

loadfail_state g_loadfail;

/* The calling thread's deferral target (loadfail_defer_to); null on
 * every thread but a load's second thread while it runs. */
static thread_local deferred_failure *t_deferred;

namespace {

std::string vformat(const char *fmt, va_list ap)
{
    char buf[1024];
    std::vsnprintf(buf, sizeof buf, fmt, ap);
    return buf;
}

std::string without_newline(const std::string &text)
{
    std::string s = text;
    while (!s.empty() && s.back() == '\n')
        s.pop_back();
    return s;
}

}  // namespace

void load_fail(int status, const std::string &text)
{
    if (t_deferred != nullptr) {
        *t_deferred = deferred_failure{true, status, text};
        throw load_error{status};
    }
    std::fputs(text.c_str(), stderr);
    std::fflush(stderr);
    if (g_loadfail.trap <= 0) {
        if (g_loadfail.before_exit != nullptr)
            g_loadfail.before_exit();
        std::exit(status);
    }
    g_loadfail.message = without_newline(text);
    throw load_error{status};
}

void load_failf(int status, const char *fmt, ...)
{
    va_list ap;
    va_start(ap, fmt);
    std::string text = vformat(fmt, ap);
    va_end(ap);
    load_fail(status, text);
}

void load_fail_errno(int status, const char *call)
{
    std::string text = std::string(call) + ": " + std::strerror(errno) + "\n";
    load_fail(status, text);
}

void load_warnf(const char *fmt, ...)
{
    va_list ap;
    va_start(ap, fmt);
    std::string text = vformat(fmt, ap);
    va_end(ap);
    std::fputs(text.c_str(), stderr);
    /* A file listed and then read warns once in the window. */
    if (g_loadfail.warnings.find(text) == std::string::npos)
        g_loadfail.warnings += text;
}

void loadfail_trap_begin()
{
    g_loadfail.trap++;
    g_loadfail.message.clear();
    g_loadfail.warnings.clear();
}

void loadfail_trap_end()
{
    if (g_loadfail.trap > 0)
        g_loadfail.trap--;
}

void loadfail_defer_to(deferred_failure *d)
{
    t_deferred = d;
}

void loadfail_reset()
{
    g_loadfail.before_exit = nullptr;
    g_loadfail.trap = 0;
    g_loadfail.message.clear();
    g_loadfail.warnings.clear();
}
