/*
 * waits.cpp --
 *
 *	The client's and the server's waits: the handshake's round trips,
 *	then the runs of data and their answers, one segment at a time.
 */

#include "analysis/waits.h"

#include <algorithm>

#include "trace/flow.h"
#include "trace/trace.h"

namespace {

bool seq_ge(uint32_t a, uint32_t b) { return static_cast<int32_t>(a - b) >= 0; }

/* Adds the wait of direction d's end from `from` to `to`, never below 0. */
void add_wait(conn_waits *w, int d, double from, double to)
{
    w->wait[d] += std::max(0.0, to - from);
}

/* The handshake: which end is the client, and the round trip to each. */
void handshake(conn_waits *w, const seg_record &s, int d)
{
    bool syn = (s.tcp_flags & TH_SYN) != 0;
    bool ack = (s.tcp_flags & TH_ACK) != 0;
    if (syn && !ack) {
        w->client = d;
        w->syn_time = s.time;
        w->synack_time = -1.0f;
        return;
    }
    if (syn && w->syn_time >= 0.0f && d != w->client && w->synack_time < 0.0f) {
        w->synack_time = s.time;
        w->rtt_to[d] = s.time - w->syn_time;
        w->has_rtt_to[d] = 1;
        return;
    }
    if (!syn && ack && d == w->client && w->synack_time >= 0.0f && !w->has_rtt_to[d]) {
        w->rtt_to[d] = s.time - w->synack_time;
        w->has_rtt_to[d] = 1;
    }
}

/* A bare ACK from the end that has not the run: remembered once it
 * covers the run and comes after the run's end reached that end. */
void bare_ack(conn_waits *w, const seg_record &s, int d)
{
    if (w->run_dir < 0 || d == w->run_dir || w->bare_ack >= 0.0f || !(s.tcp_flags & TH_ACK) ||
        (s.tcp_flags & TH_SYN))
        return;
    if (!seq_ge(ack_raw_of(s), w->run_end))
        return;
    if (static_cast<double>(s.time) < static_cast<double>(w->run_last) + w->rtt_to[d])
        return;
    w->bare_ack = s.time;
}

/* Data from direction d: a run goes on, or an answer begins a new one. */
void data(conn_waits *w, const seg_record &s, int d)
{
    uint32_t end = seq_raw_of(s) + static_cast<uint32_t>(s.paylen);
    if (w->run_dir < 0) {
        if (d == w->client && w->synack_time >= 0.0f && w->has_rtt_to[d])
            add_wait(w, d, static_cast<double>(w->synack_time) + w->rtt_to[d], s.time);
    } else if (w->run_dir != d) {
        double from = static_cast<double>(w->run_last) + w->rtt_to[d];
        if (w->bare_ack >= 0.0f)
            from = w->bare_ack;
        add_wait(w, d, from, s.time);
        w->exchanges++;
    } else if (!seq_ge(end, w->run_end)) {
        end = w->run_end;
    }
    w->run_dir = d;
    w->run_last = s.time;
    w->run_end = end;
    w->bare_ack = -1.0f;
}

}  // namespace

void waits_start(conn_waits *w)
{
    *w = conn_waits{};
    w->syn_time = -1.0f;
    w->synack_time = -1.0f;
    w->run_dir = -1;
    w->bare_ack = -1.0f;
}

void waits_step(conn_waits *w, const seg_record &s, int d, bool probe)
{
    handshake(w, s, d);
    if (s.paylen > 0 && !probe)
        data(w, s, d);
    else if (s.paylen <= 0)
        bare_ack(w, s, d);
}

double client_wait(const conn_waits &w)
{
    return w.wait[w.client];
}

double server_wait(const conn_waits &w)
{
    return w.wait[1 - w.client];
}
