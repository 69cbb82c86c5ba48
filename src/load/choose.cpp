/*
 * choose.cpp --
 *
 *	The choice of connection across one or two capture files, and the
 *	-L listing. Both read the files through the connection list, which
 *	applies the -f filter, so the numbers are those of what passes it.
 */

#include "load/choose.h"

#include <cstdio>
#include <string>
#include <vector>

#include "trace/connlist.h"
#include "capture/loadfail.h"

namespace {

/* The first row of `rows` that is the same connection as `want`, or -1. */
int find_counterpart(const std::vector<conn_row> &rows, const conn_ends &want)
{
    for (size_t i = 0; i < rows.size(); i++) {
        if (same_pair(rows[i].ends, want))
            return (int)i;
    }
    for (size_t i = 0; i < rows.size(); i++) {
        if (same_ports(rows[i].ends, want))
            return (int)i;
    }
    return -1;
}

const char *plural(size_t n)
{
    return n == 1 ? "" : "s";
}

}  // namespace

void choose_connection(int nfiles, char *const names[], int number)
{
    conn_select_clear();
    if (number <= 0)
        return;
    std::vector<conn_row> first = list_connections(names[0]);
    if ((size_t)number > first.size())
        load_failf(1, "wirepaint: %s holds %zu TCP connection%s: no connection %d\n", names[0],
                   first.size(), plural(first.size()), number);
    const conn_ends &want = first[(size_t)number - 1].ends;
    if (nfiles < 2) {
        conn_select_set(names[0], want);
        return;
    }
    std::vector<conn_row> second = list_connections(names[1]);
    int other = find_counterpart(second, want);
    if (other < 0)
        load_failf(1, "wirepaint: %s holds no connection between the ports of connection %d "
                      "of %s (%s - %s)\n",
                   names[1], number, names[0], conn_end_text(want, 0).c_str(),
                   conn_end_text(want, 1).c_str());
    conn_select_set(names[0], want);
    conn_select_set(names[1], second[(size_t)other].ends);
}

void print_connection_tables(int nfiles, char *const names[])
{
    for (int f = 0; f < nfiles; f++) {
        std::vector<conn_row> rows = list_connections(names[f]);
        std::printf("# %s: %zu TCP connection%s\n", names[f], rows.size(), plural(rows.size()));
        for (const std::string &line : connection_table(rows))
            std::printf("%s\n", line.c_str());
    }
    std::fflush(stdout);
}
