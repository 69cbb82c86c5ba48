/*
 * choose.cpp --
 *
 *	The choice of connection across one or two capture files, and the
 *	-L listing. Both read the files through the connection list, which
 *	applies the -f filter, so the numbers are those of what passes it.
 */

#include "load/choose.h"

#include <pcap/pcap.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "capture/bytes.h"
#include "capture/loadfail.h"
#include "trace/connlist.h"
#include "trace/tcp_fields.h"
#include "trace/trace.h"

namespace {

/* First payload lengths of each way a connection's evidence keeps. */
constexpr int FIRST_LENGTHS = 4;

/*
 * What tells a connection from the others of a capture across a
 * middlebox that rewrites addresses and ports: its handshake (the
 * client's and the server's initial sequence numbers, the SYNs' TCP
 * timestamps and options) and the lengths of its first segments with
 * payload. Role 0 is the client (the SYN's sender, else end 0).
 */
struct conn_evidence {
    int client_way = 0;              /* way of the client: 0 or 1 */
    bool has_isn[2] = {};            /* role r's SYN (SYN+ACK) was seen */
    uint32_t isn[2] = {};            /* its sequence number */
    bool has_ts[2] = {};             /* it carried a TCP timestamp */
    uint32_t ts[2] = {};             /* its TSval */
    uint64_t syn_options = 0;        /* hash of the SYN's option bytes; 0 none */
    int nlen[2] = {};                /* lengths kept, per role */
    int32_t len[2][FIRST_LENGTHS] = {}; /* first payload lengths, per role */
    std::vector<int32_t> way_lens[2];/* the same per way, before the roles
                                      * are known (a SYN may come late) */
};

void note_segment(void *user, const conn_segment &seg)
{
    auto &all = *static_cast<std::vector<conn_evidence> *>(user);
    if (all.size() <= seg.row)
        all.resize(seg.row + 1);
    conn_evidence &e = all[seg.row];
    if (seg.tcp_avail < 20)
        return;
    uint8_t flags = seg.tcp[13];
    bool syn = (flags & 0x02) != 0;
    if (syn) {
        int role = (flags & 0x10) != 0 ? 1 : 0;
        if (role == 0)
            e.client_way = seg.way;
        e.has_isn[role] = true;
        e.isn[role] = read_be32(seg.tcp + 4);
        tcp_fields f = parse_tcp_fields(seg.tcp, static_cast<int32_t>(seg.tcp_avail));
        e.has_ts[role] = f.has_ts != 0;
        e.ts[role] = f.ts_val;
        uint32_t hl = std::min<uint32_t>(static_cast<uint32_t>(seg.tcp[12] >> 4) * 4,
                                         seg.tcp_avail);
        if (role == 0)
            for (uint32_t k = 20; k < hl; k++)
                e.syn_options = (e.syn_options ^ seg.tcp[k]) * 0x100000001b3ull + 1;
        return;
    }
    if (seg.paylen > 0 && e.way_lens[seg.way].size() < FIRST_LENGTHS)
        e.way_lens[seg.way].push_back(seg.paylen);
}

/* The evidence of every connection of `file`, with its rows. */
std::vector<conn_evidence> evidence_of(const char *file, std::vector<conn_row> *rows)
{
    std::vector<conn_evidence> all;
    *rows = list_connections(file, note_segment, &all);
    all.resize(rows->size());
    for (conn_evidence &e : all)
        for (int r = 0; r < 2; r++) {
            const std::vector<int32_t> &l = e.way_lens[r == 0 ? e.client_way : 1 - e.client_way];
            e.nlen[r] = static_cast<int>(l.size());
            std::copy(l.begin(), l.end(), e.len[r]);
        }
    return all;
}

/* Points for a piece of evidence that only the same connection shows
 * (32 random bits: an initial sequence number, a TSval with its random
 * per-connection offset), and for one that others may share too. */
constexpr int STRONG = 4, WEAK = 1;

/* The kinds of evidence, as -V names them. */
enum {
    FIT_ISN = 1,
    FIT_TS = 2,
    FIT_LENGTHS = 4,
    FIT_OPTIONS = 8,
    FIT_ENDS = 16,
    FIT_PORTS = 32
};

const char *const fit_names[] = {"initial sequence numbers", "SYN timestamps",
                                 "first segments' lengths", "SYN options", "addresses and ports",
                                 "ports"};

/* How well b fits as the same connection as a. */
struct fit_score {
    int strong;  /* points of evidence only the same connection shows */
    int all;     /* with the rest */
    int kinds;   /* FIT_* bits of what agreed */
};

fit_score fit(const conn_evidence &a, const conn_row &ra, const conn_evidence &b,
              const conn_row &rb)
{
    fit_score f{0, 0, 0};
    int weak = 0;
    for (int r = 0; r < 2; r++) {
        if (a.has_isn[r] && b.has_isn[r] && a.isn[r] == b.isn[r])
            f.strong += STRONG, f.kinds |= FIT_ISN;
        if (a.has_ts[r] && b.has_ts[r] && a.ts[r] == b.ts[r])
            f.strong += STRONG, f.kinds |= FIT_TS;
        if (a.nlen[r] >= 2 && a.nlen[r] == b.nlen[r] &&
            std::equal(a.len[r], a.len[r] + a.nlen[r], b.len[r]))
            weak += WEAK, f.kinds |= FIT_LENGTHS;
    }
    if (a.syn_options != 0 && a.syn_options == b.syn_options)
        weak += WEAK, f.kinds |= FIT_OPTIONS;
    if (same_pair(ra.ends, rb.ends))
        weak += 2 * WEAK, f.kinds |= FIT_ENDS;
    else if (same_ports(ra.ends, rb.ends))
        weak += WEAK, f.kinds |= FIT_PORTS;
    f.all = f.strong + weak;
    return f;
}

/* "a, b and c" of the kinds in `kinds`. */
std::string kinds_text(int kinds)
{
    std::vector<std::string> parts;
    for (size_t k = 0; k < sizeof fit_names / sizeof fit_names[0]; k++)
        if (kinds & (1 << k))
            parts.push_back(fit_names[k]);
    std::string text;
    for (size_t k = 0; k < parts.size(); k++)
        text += (k == 0 ? "" : k + 1 == parts.size() ? " and " : ", ") + parts[k];
    return text;
}

/* The counterpart's row of a choice, or why there is none. */
struct counterpart {
    int row;          /* index in the second file's rows; -1 none */
    int candidates;   /* rows that fit equally well, when ambiguous */
    int kinds;        /* FIT_* bits of the evidence that chose the row */
};

/*
 * The row of `rows` (evidence `ev`) that is connection `a` of the first
 * file: the best fit when only it shows evidence of its own handshake;
 * none when two fit equally well. Without such evidence in any row, the
 * first with the same ends, else the same ports, as before.
 */
counterpart find_counterpart(const conn_evidence &a, const conn_row &ra,
                             const std::vector<conn_evidence> &ev,
                             const std::vector<conn_row> &rows)
{
    int best = -1, best_score = -1, ties = 0, kinds = 0;
    for (size_t i = 0; i < rows.size(); i++) {
        fit_score f = fit(a, ra, ev[i], rows[i]);
        if (f.strong == 0)
            continue;
        if (f.all > best_score) {
            best = static_cast<int>(i);
            best_score = f.all;
            kinds = f.kinds;
            ties = 1;
        } else if (f.all == best_score) {
            ties++;
        }
    }
    if (best >= 0)
        return ties == 1 ? counterpart{best, 0, kinds} : counterpart{-1, ties, 0};
    for (size_t i = 0; i < rows.size(); i++)
        if (same_pair(rows[i].ends, ra.ends))
            return {static_cast<int>(i), 0, FIT_ENDS};
    for (size_t i = 0; i < rows.size(); i++)
        if (same_ports(rows[i].ends, ra.ends))
            return {static_cast<int>(i), 0, FIT_PORTS};
    return {-1, 0, 0};
}

/* Fails the choice of connection `number` of `first` in `second`. */
[[noreturn]] void fail_no_counterpart(const char *first, const char *second, int number,
                                      const conn_ends &want, const counterpart &c)
{
    std::string why = c.candidates > 1
                          ? std::to_string(c.candidates) + " of its connections fit about as well"
                          : "none of its connections shows the same handshake, first segments "
                            "or ends (a proxy that terminates TCP makes two separate "
                            "connections)";
    load_failf(1,
               "Fatal: cannot find matched data in two files\n"
               "wirepaint: %s holds no copy of connection %d of %s (%s - %s): %s\n",
               second, number, first, conn_end_text(want, 0).c_str(),
               conn_end_text(want, 1).c_str(), why.c_str());
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
    std::vector<conn_row> first;
    std::vector<conn_evidence> first_ev = evidence_of(names[0], &first);
    if ((size_t)number > first.size())
        load_failf(1, "wirepaint: %s holds %zu TCP connection%s: no connection %d\n", names[0],
                   first.size(), plural(first.size()), number);
    const conn_ends &want = first[(size_t)number - 1].ends;
    if (nfiles < 2) {
        conn_select_set(names[0], want);
        return;
    }
    std::vector<conn_row> second;
    std::vector<conn_evidence> second_ev = evidence_of(names[1], &second);
    counterpart c = find_counterpart(first_ev[(size_t)number - 1], first[(size_t)number - 1],
                                     second_ev, second);
    if (c.row < 0)
        fail_no_counterpart(names[0], names[1], number, want, c);
    if (g_trace.verbose == 1)
        std::fprintf(stderr, "wirepaint: connection %d of %s is connection %d of %s (same %s)\n",
                     number, names[0], c.row + 1, names[1], kinds_text(c.kinds).c_str());
    conn_select_set(names[0], want);
    conn_select_set(names[1], second[(size_t)c.row].ends);
}

bool choose_counterpart_of_first(char *const names[])
{
    /* Both are read again: not a pipe or standard input, read once. */
    struct stat st;
    for (int f = 0; f < 2; f++)
        if (stat(names[f], &st) != 0 || !S_ISREG(st.st_mode))
            return false;
    std::vector<conn_row> a, b;
    std::vector<conn_evidence> ea = evidence_of(names[0], &a);
    if (a.empty())
        return false;
    std::vector<conn_evidence> eb = evidence_of(names[1], &b);
    counterpart c = find_counterpart(ea[0], a[0], eb, b);
    if (c.row <= 0)
        return false;
    conn_select_set(names[0], a[0].ends);
    conn_select_set(names[1], b[(size_t)c.row].ends);
    return true;
}

std::vector<int> counterpart_numbers(const char *first, const char *second)
{
    std::vector<conn_row> a, b;
    std::vector<conn_evidence> ea = evidence_of(first, &a), eb = evidence_of(second, &b);
    std::vector<int> out(a.size(), 0);
    for (size_t i = 0; i < a.size(); i++)
        out[i] = find_counterpart(ea[i], a[i], eb, b).row + 1;
    return out;
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
