/*
 * loadfail.h --
 *
 *	How a load fails. On the command line every failure of reading,
 *	decoding or loading ends the process at once, with its message on
 *	standard error. A load started from the window must not end the
 *	program: there the caller arms a trap, and the same failure writes
 *	the same message, keeps its text and unwinds to the caller as a
 *	load_error instead. Warnings (a capture file cut short) are written
 *	and kept the same way, so the window can show them.
 *
 *	The state lives in one record, g_loadfail.
 */

#ifndef WIREPAINT_CAPTURE_LOADFAIL_H
#define WIREPAINT_CAPTURE_LOADFAIL_H

#include <string>

/* What a trapped failure throws: the exit status it would have had. */
struct load_error {
    int status;
};

/* The failure state of loading. One instance, g_loadfail. */
struct loadfail_state {
    int trap;             /* > 0 while a trapped load runs; set by
                           * loadfail_trap_begin / loadfail_trap_end */
    std::string message;  /* text of the last failure, newline removed;
                           * set by every load_fail* call */
    std::string warnings; /* warnings of the current load, one a line;
                           * cleared by loadfail_trap_begin */
    void (*before_exit)();/* called by load_fail before it ends the
                           * process, to wait for a second thread of the
                           * load; set by the loader while one runs,
                           * null otherwise */
};

extern loadfail_state g_loadfail;

/*
 * load_fail --
 *	Writes `text` (a whole message, newline included) on standard error
 *	and ends the process with `status`, or, with the trap armed, keeps
 *	the text in g_loadfail.message and throws load_error{status}.
 */
[[noreturn]] void load_fail(int status, const std::string &text);

/* load_fail with a printf-style message. */
[[noreturn]] void load_failf(int status, const char *fmt, ...)
    __attribute__((format(printf, 2, 3)));

/* load_fail with perror's text: "call: strerror(errno)\n". */
[[noreturn]] void load_fail_errno(int status, const char *call);

/*
 * load_warnf --
 *	Writes a warning (printf-style, newline included) on standard error
 *	and appends it to g_loadfail.warnings. Never ends the process.
 */
void load_warnf(const char *fmt, ...) __attribute__((format(printf, 1, 2)));

/*
 * loadfail_trap_begin, loadfail_trap_end --
 *	Arm and disarm the trap around a load that must not end the process;
 *	begin clears the message and the warnings of the load before.
 */
void loadfail_trap_begin();
void loadfail_trap_end();

/*
 * A failure kept by a second thread of a load for the thread that
 * started it, which gives it to load_fail once the second thread is done.
 */
struct deferred_failure {
    bool failed;          /* a load_fail call was kept */
    int status;           /* its exit status */
    std::string text;     /* its whole message, newline included */
};

/*
 * loadfail_defer_to --
 *	From now on load_fail on the calling thread only keeps its status and
 *	text in *d and throws load_error, writing nothing and ending nothing;
 *	null goes back to the plain behaviour. The setting is the calling
 *	thread's own (thread-local): no other thread is affected.
 */
void loadfail_defer_to(deferred_failure *d);

/* Puts g_loadfail back to its process-start state (for tests). */
void loadfail_reset();

#endif
