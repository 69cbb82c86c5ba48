/*
 * analysis_fixture.h --
 *
 *	Test support for the analysis tests: builds a main trace from a list
 *	of segments written as {host, time, seq, ack, paylen, flags}, with
 *	records laid out as the decoder lays them (malloc'ed array, packet
 *	copies in the trace's copy blocks), and puts g_trace and g_analysis
 *	back to their process-start state around every test.
 *
 *	Hosts: A is 10.0.0.1:40000 and B is 10.0.0.2:80, an IPv4 connection;
 *	LA is 127.0.0.1:1000 and LB is 127.0.0.1:2000, a loopback connection
 *	whose two ends share one address.
 */

#ifndef WIREPAINT_TESTS_ANALYSIS_FIXTURE_H
#define WIREPAINT_TESTS_ANALYSIS_FIXTURE_H

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <vector>

#include "analysis/estimator.h"
#include "analysis/line.h"
#include "trace/direction.h"
#include "trace/scratch.h"
#include "trace/trace.h"

namespace fixture {

enum host { A, B, LA, LB };

struct seg {
    host from;
    float time;
    int64_t seq;
    int64_t ack;
    int32_t paylen;
    uint8_t flags;
};

constexpr uint64_t ADDR_A = 0x0a000001;    /* 10.0.0.1 */
constexpr uint64_t ADDR_B = 0x0a000002;    /* 10.0.0.2 */
constexpr uint64_t ADDR_LOOP = 0x7f000001; /* 127.0.0.1 */

inline void set_ends(seg_record &r, host from)
{
    switch (from) {
    case A:
        set_src4(r, ADDR_A); set_dst4(r, ADDR_B); set_ports(r, 40000, 80);
        break;
    case B:
        set_src4(r, ADDR_B); set_dst4(r, ADDR_A); set_ports(r, 80, 40000);
        break;
    case LA:
        set_src4(r, ADDR_LOOP); set_dst4(r, ADDR_LOOP); set_ports(r, 1000, 2000);
        break;
    case LB:
        set_src4(r, ADDR_LOOP); set_dst4(r, ADDR_LOOP); set_ports(r, 2000, 1000);
        break;
    }
}

/* Replaces g_trace.main with records made from `segs`. */
inline void install(const std::vector<seg> &segs)
{
    trace_free(&g_trace.main);
    int32_t n = static_cast<int32_t>(segs.size());
    if (n == 0)
        return;
    auto *rec = static_cast<seg_record *>(std::calloc(segs.size(), sizeof(seg_record)));
    for (int32_t i = 0; i < n; i++) {
        seg_record &r = rec[i];
        set_ends(r, segs[i].from);
        r.time = segs[i].time;
        set_seq(r, segs[i].seq);
        set_ack(r, segs[i].ack);
        r.paylen = segs[i].paylen;
        r.tcp_flags = segs[i].flags;
        r.win = 65535;
        trace_new_copy(&g_trace.main, 64, 0);
    }
    g_trace.main.rec = rec;
    g_trace.main.count = n;
    g_trace.main.cap = n;
}

inline seg_record &rec(int32_t i) { return g_trace.main.rec[i]; }

/* The record that record k of v[0 .. count-1] acknowledges as the pairing
 * noted it: the highest one it is acked_by of, 0 when k's PAIR_ACKS bit
 * is clear (and when that is record 0). */
inline int32_t acks_of(const seg_record *v, int32_t count, int32_t k)
{
    if ((v[k].pair_flags & PAIR_ACKS) == 0)
        return 0;
    int32_t found = 0;
    for (int32_t i = 0; i < count; i++)
        if (v[i].acked_by == k)
            found = i;
    return found;
}

/* acks_of in the main trace. */
inline int32_t acks_of(int32_t k) { return acks_of(g_trace.main.rec, g_trace.main.count, k); }

/* Mark and skip flag of every main record, for whole-trace comparisons. */
inline std::vector<int> marks()
{
    std::vector<int> v;
    for (int32_t i = 0; i < g_trace.main.count; i++)
        v.push_back(rec(i).mark);
    return v;
}

inline std::vector<int> skips()
{
    std::vector<int> v;
    for (int32_t i = 0; i < g_trace.main.count; i++)
        v.push_back(rec(i).mark_flags & MARK_SKIP);
    return v;
}

/* A zeroed line list of the main trace's size, as analyse_trace owns it. */
inline line_record *alloc_lines()
{
    scratch_free(g_trace.lines);
    g_trace.lines = static_cast<line_record *>(
        std::calloc(static_cast<size_t>(g_trace.main.count), sizeof(line_record)));
    return g_trace.lines;
}

/* Clears trace and estimator state before and after every test. */
class analysis_test : public ::testing::Test {
protected:
    void SetUp() override
    {
        trace_state_clear();
        analysis_state_reset();
    }
    void TearDown() override
    {
        trace_state_clear();
        analysis_state_reset();
    }
};

} // namespace fixture

#endif
