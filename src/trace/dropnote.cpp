/*
 * dropnote.cpp --
 *
 *	Notes on dropped packets: written one by one, or counted and summed
 *	up in one line per kind.
 */

#include "trace/dropnote.h"

#include "capture/capfile.h"
#include "trace/connlist.h"
#include "trace/trace.h"

dropnote_state g_dropnote;

namespace {

/* The summary text of each kind, for one and for more notes. */
struct kind_text {
    const char *one;
    const char *many;
};

const kind_text kind_texts[DROP_KINDS] = {
    {"packet not TCP skipped", "packets not TCP skipped"},
    {"packet of other connections skipped", "packets of other connections skipped"},
    {"truncated packet skipped", "truncated packets skipped"},
    {"segment with malformed TCP options", "segments with malformed TCP options"},
};

/* `n` in decimal with a comma between groups of three digits. */
std::string grouped(uint64_t n)
{
    std::string digits = std::to_string(n);
    std::string out;
    for (size_t i = 0; i < digits.size(); i++) {
        if (i > 0 && (digits.size() - i) % 3 == 0)
            out += ',';
        out += digits[i];
    }
    return out;
}

/* Counts a note of `kind` when quiet; whether it did. */
bool counted(drop_kind kind)
{
    if (!g_dropnote.quiet)
        return false;
    g_dropnote.count[kind].fetch_add(1, std::memory_order_relaxed);
    return true;
}

}  // namespace

void dropnote_begin_file()
{
    g_dropnote.quiet = g_dropnote.stdout_taken || g_connsel.current >= 0 ||
                       !g_capfile.filter.empty();
}

void drop_note(drop_kind kind, const char *line)
{
    if (!counted(kind))
        std::puts(line);
}

void drop_mark(drop_kind kind, const char *mark)
{
    if (!counted(kind))
        std::fputs(mark, stdout);
}

void dropnote_reset_counts()
{
    for (std::atomic<uint64_t> &c : g_dropnote.count)
        c.store(0, std::memory_order_relaxed);
}

std::string dropnote_summary()
{
    std::string text;
    for (int k = 0; k < DROP_KINDS; k++) {
        uint64_t n = g_dropnote.count[k].load(std::memory_order_relaxed);
        if (n == 0)
            continue;
        text += grouped(n) + " " + (n == 1 ? kind_texts[k].one : kind_texts[k].many) + "\n";
    }
    return text;
}

void dropnote_write_summary()
{
    if (g_trace.verbose == 1)
        std::fputs(dropnote_summary().c_str(), stderr);
}

void dropnote_reset()
{
    g_dropnote.stdout_taken = 0;
    g_dropnote.quiet = 0;
    dropnote_reset_counts();
}
