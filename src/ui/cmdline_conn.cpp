/*
 * cmdline_conn.cpp --
 *
 *	The command-line options that choose what of a capture to read: -L
 *	lists the TCP connections of each file, -c N draws the Nth of them,
 *	-f EXPR reads only the packets that pass a libpcap filter, -H HOST
 *	names the capture host, drawn on the left axis.
 */

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "analysis/left_host.h"
#include "report/health.h"
#include "capture/capfile.h"
#include "ui/cmdline.h"
#include "ui/output.h"

namespace {

/* The number of -c: a whole decimal number from 1, or 0 when it is not. */
int connection_number(const char *text)
{
    errno = 0;
    char *end = nullptr;
    long n = std::strtol(text, &end, 10);
    if (errno != 0 || end == text || *end != '\0' || n < 1 || n > 0x7fffffff)
        return 0;
    return (int)n;
}

}  // namespace

int apply_connection_option(int opt, const char *arg)
{
    switch (opt) {
    case 'L':
        g_cmdconn.list = 1;
        return 1;
    case 'c':
        g_cmdconn.number = connection_number(arg);
        if (g_cmdconn.number == 0) {
            std::fprintf(stderr, "%s: -c wants a connection number from 1, not \"%s\"\n",
                         program_name, arg);
            return 0;
        }
        return 1;
    case 'f':
        g_capfile.filter = arg;
        return 1;
    case 'H':
        if (!left_host_name(arg)) {
            std::fprintf(stderr, "%s: -H wants an address, or address:port as -L writes it, "
                         "not \"%s\"\n", program_name, arg);
            return 0;
        }
        return 1;
    default:
        return 1;
    }
}

int list_connections_out(int nfiles, char *const names[])
{
    const std::string &path = g_output.table;
    if (path.empty())
        return print_health_tables(nfiles, names, nullptr);
    if (path == "-")
        return print_health_tables(nfiles, names, stdout);
    FILE *f = std::fopen(path.c_str(), "wb");
    if (f == nullptr) {
        std::fprintf(stderr, "%s: cannot write %s: %s\n", program_name, path.c_str(),
                     std::strerror(errno));
        return 0;
    }
    int ok = print_health_tables(nfiles, names, f);
    ok = (std::fclose(f) == 0) && ok;
    if (!ok)
        std::fprintf(stderr, "%s: cannot write %s\n", program_name, path.c_str());
    return ok;
}

void print_connection_usage()
{
    std::fprintf(stderr, "\t-L: list the TCP connections of each file with their health and quit\n");
    std::fprintf(stderr, "\t    (-x <file>: as CSV, - for stdout)\n");
    std::fprintf(stderr, "\t-c <n>: draw connection n of that list\n");
    std::fprintf(stderr, "\t-f <filter>: read only the packets a libpcap filter passes\n");
    std::fprintf(stderr, "\t-H <host>: draw this end (address or address:port) on the left axis\n");
}

void check_named_host()
{
    const left_host_choice &c = g_left_choice;
    if (c.outcome == LEFT_NAMED_NO_END) {
        std::fprintf(stderr, "%s: -H: %s is not an end of this connection\n", program_name,
                     c.text.c_str());
        std::exit(1);
    }
    if (c.outcome == LEFT_NAMED_BOTH_ENDS) {
        std::fprintf(stderr, "%s: -H: %s is both ends of this connection: add the port\n",
                     program_name, c.text.c_str());
        std::exit(1);
    }
}
