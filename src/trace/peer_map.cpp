/*
 * peer_map.cpp --
 *
 *	Learning what a middlebox did between the two capture points, and
 *	putting the peer trace in the main trace's terms (see peer_map.h).
 *	The learning reads the first records of each trace only, so that a
 *	load of captures that agree pays a few thousand lookups for it.
 */

#include "trace/peer_map.h"

#include <arpa/inet.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstring>
#include <functional>
#include <unordered_map>
#include <unordered_set>
#include <utility>

#include "trace/matcher.h"
#include "trace/tcp_fields.h"
#include "trace/trace.h"

peer_map_state g_peer_map;

namespace {

/* Records of each trace the learning reads at most. */
constexpr int32_t SAMPLE = 4096;

int32_t sample_of(const trace_array &t)
{
    return std::min(t.count, SAMPLE);
}

/* The first sampled record of t whose SYN and ACK flags are `want`, or -1. */
int32_t first_syn(const trace_array &t, uint8_t want)
{
    for (int32_t i = 0; i < sample_of(t); i++)
        if ((t.rec[i].tcp_flags & (TH_SYN | TH_ACK)) == want)
            return i;
    return -1;
}

/* Which way of a trace is role 0: record 0's way (true) or the other.
 * Record 0 is kept as it was read, since peer_map_apply rewrites it. */
struct roles {
    const trace_array *t;
    bool rec0_client;
    seg_record first;

    roles(const trace_array *trace, bool client) : t(trace), rec0_client(client), first(trace->rec[0]) {}

    int of(int32_t i) const
    {
        return same_direction(t->rec[i], first) == rec0_client ? 0 : 1;
    }
};

/* A count of votes for 32-bit values; the winner is the most voted. */
struct vote_box {
    std::unordered_map<uint32_t, int> n;

    void add(uint32_t v) { n[v]++; }

    /* The votes of the winner, which goes to *v (0 votes: none). */
    int winner(uint32_t *v) const
    {
        int best = 0;
        for (const auto &e : n)
            if (e.second > best || (e.second == best && e.first < *v)) {
                best = e.second;
                *v = e.first;
            }
        return best;
    }
};

uint64_t mix(uint64_t z)
{
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ull;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebull;
    return z ^ (z >> 31);
}

/*
 * The key of what a middlebox leaves alone: TCP timestamps, length and
 * flags, or (`by_ids`) identification, length and flags; 0 when the
 * record has none to key on.
 */
uint64_t invariant_key(const trace_array &t, int32_t i, bool by_ids)
{
    const seg_record &r = t.rec[i];
    uint64_t tail = (uint64_t)(uint32_t)r.paylen << 8 | r.tcp_flags;
    if (by_ids)
        return r.ip_id == 0 ? 0 : mix((uint64_t)r.ip_id << 40 ^ tail) | 1;
    tcp_fields f = trace_tcp_fields(&t, i);
    if (!f.has_ts)
        return 0;
    return mix(mix((uint64_t)f.ts_val << 32 | f.ts_ecr) ^ tail) | 1;
}

/*
 * The keys of a trace's records in `range` met exactly once: a key met twice (a burst of
 * equal segments sent within one timestamp tick, a retransmission) tells
 * nothing about which is which.
 */
/* Records [from, to) of a trace. */
struct span_of {
    int32_t from, to;
};

/* The first records a sample reads, the last, or all. */
enum sample_part { SAMPLE_FIRST, SAMPLE_LAST, SAMPLE_ALL };

span_of part_of(const trace_array &t, sample_part part)
{
    if (part == SAMPLE_ALL)
        return {0, t.count};
    if (part == SAMPLE_LAST)
        return {t.count - sample_of(t), t.count};
    return {0, sample_of(t)};
}

template <typename Key>
std::unordered_map<uint64_t, int32_t> unique_keys(Key key, span_of range)
{
    std::unordered_map<uint64_t, int32_t> seen;
    for (int32_t i = range.from; i < range.to; i++) {
        uint64_t k = key(i);
        if (k == 0)
            continue;
        auto ins = seen.emplace(k, i);
        if (!ins.second)
            ins.first->second = -1;
    }
    return seen;
}

/* The pairs (main index, peer index) of records with equal unique keys. */
template <typename Key>
std::vector<std::pair<int32_t, int32_t>> pairs_by(Key main_key, Key peer_key,
                                                  sample_part part = SAMPLE_FIRST)
{
    std::vector<std::pair<int32_t, int32_t>> out;
    auto in_main = unique_keys(main_key, part_of(g_trace.main, part));
    auto in_peer = unique_keys(peer_key, part_of(g_trace.peer, part));
    for (const auto &e : in_peer) {
        if (e.second < 0)
            continue;
        auto m = in_main.find(e.first);
        if (m != in_main.end() && m->second >= 0)
            out.emplace_back(m->second, e.second);
    }
    std::sort(out.begin(), out.end());
    return out;
}

bool same_end(const endpoint &a, const endpoint &b)
{
    return a.a4 == b.a4 && a.port == b.port && std::memcmp(a.a6, b.a6, sizeof a.a6) == 0;
}

/* The sender of role r in t as t sees it: a record's source of that
 * role, else the destination of one of the other. */
endpoint end_of(const roles &w, int r)
{
    for (int32_t i = 0; i < w.t->count; i++)
        if (w.of(i) == r)
            return source_of(w.t->rec[i]);
    return destination_of(w.t->rec[0]);
}

/*
 * Which way of the peer trace is the client's: by the SYNs, else by the
 * pairs' votes, else by equal addresses. False when nothing tells.
 */
bool orient_peer(const roles &mr, roles *pr, int32_t main_syn, int32_t peer_syn,
                 const std::vector<std::pair<int32_t, int32_t>> &pairs)
{
    const trace_array &peer = g_trace.peer;
    if (main_syn >= 0 && peer_syn >= 0) {
        pr->rec0_client = same_direction(peer.rec[0], peer.rec[peer_syn]);
        g_peer_map.evidence |= PEER_BY_SYN;
        return true;
    }
    int same = 0, flip = 0;
    for (const auto &p : pairs)
        (mr.of(p.first) == 0) == same_direction(peer.rec[p.second], peer.rec[0]) ? same++ : flip++;
    if (same != flip) {
        pr->rec0_client = same > flip;
        return true;
    }
    endpoint p0 = source_of(peer.rec[0]);
    const seg_record &m0 = g_trace.main.rec[0];
    if (same_end(p0, source_of(m0)) || same_end(p0, destination_of(m0))) {
        pr->rec0_client = same_end(p0, source_of(m0)) == (mr.of(0) == 0);
        g_peer_map.evidence |= PEER_BY_ADDRESSES;
        return true;
    }
    return false;
}

/* Each role's shift of the sequence numbers: from the SYNs where both
 * traces hold them, else the most voted by the pairs. Returns the votes
 * of the data direction's winner: how many pairs agree on one shift. */
int learn_shifts(const roles &mr, const roles &pr,
                 const std::vector<std::pair<int32_t, int32_t>> &pairs)
{
    const trace_array &main = g_trace.main, &peer = g_trace.peer;
    vote_box box[2];
    for (const auto &p : pairs) {
        const seg_record &a = main.rec[p.first], &b = peer.rec[p.second];
        int r = mr.of(p.first);
        box[r].add(b.seq_raw - a.seq_raw);
        if ((a.tcp_flags & b.tcp_flags & TH_ACK) != 0)
            box[1 - r].add(b.ack_raw - a.ack_raw);
    }
    int32_t ms[2] = {first_syn(main, TH_SYN), first_syn(main, TH_SYN | TH_ACK)};
    int32_t ps[2] = {first_syn(peer, TH_SYN), first_syn(peer, TH_SYN | TH_ACK)};
    int agree = 0;
    for (int r = 0; r < 2; r++) {
        uint32_t v = 0;
        int votes = box[r].winner(&v);
        agree = std::max(agree, votes);
        bool syns = ms[r] >= 0 && ps[r] >= 0 && mr.of(ms[r]) == r && pr.of(ps[r]) == r;
        if (syns) {
            g_peer_map.shift[r] = peer.rec[ps[r]].seq_raw - main.rec[ms[r]].seq_raw;
            g_peer_map.evidence |= r == 0 ? PEER_BY_SYN : PEER_BY_SYNACK;
            if (r == 0 && g_peer_map.shift[0] == 0)
                g_peer_map.same_client_isn = true;
            continue;
        }
        if (votes > 0)
            g_peer_map.shift[r] = v;
    }
    return agree;
}

/* Pairs by identification agree on a shift by chance only rarely: a
 * copy is confirmed by this many of them, and a majority. */
constexpr int ID_PAIRS_CONFIRM = 3;

/* A record's numbers in the main trace's terms, with its role: the key
 * of a copy by numbers. */
uint64_t number_key(const seg_record &r, int role, uint32_t seq_shift, uint32_t ack_shift)
{
    uint32_t ack = (r.tcp_flags & TH_ACK) != 0 ? r.ack_raw - ack_shift : 0;
    uint64_t a = (uint64_t)(r.seq_raw - seq_shift) << 32 | ack;
    uint64_t b = (uint64_t)r.win << 32 | (uint64_t)(uint32_t)r.paylen << 8 | r.tcp_flags;
    return mix(a ^ mix(b ^ (uint64_t)role << 60)) | 1;
}

/* Whether the copies found by their numbers carry the same
 * identifications: counts both ways into g_peer_map. */
void learn_ids(const roles &mr, const roles &pr)
{
    const trace_array &main = g_trace.main, &peer = g_trace.peer;
    const uint32_t *s = g_peer_map.shift;
    auto pairs = pairs_by(
        std::function<uint64_t(int32_t)>([&](int32_t i) { return number_key(main.rec[i], mr.of(i), 0, 0); }),
        std::function<uint64_t(int32_t)>([&](int32_t m) {
            int r = pr.of(m);
            return number_key(peer.rec[m], r, s[r], s[1 - r]);
        }));
    for (const auto &p : pairs)
        (main.rec[p.first].ip_id == peer.rec[p.second].ip_id ? g_peer_map.id_equal
                                                               : g_peer_map.id_differ)++;
    g_peer_map.ids_disagree = g_peer_map.id_differ > g_peer_map.id_equal;
    g_peer_map.pairs = static_cast<int>(pairs.size());
}

/* Records of a trace above which no change of the shift is looked for:
 * the search keys every record, some 40 bytes each at this size. */
constexpr int32_t CHANGE_SEARCH_MAX = 1 << 20;

/*
 * Where between the last pair of the first shift (top_early) and the
 * first of the late one (low_late, at sequence number `lowest`), both
 * relative to `ref`, the late shift begins: at the lowest peer record
 * of role r there whose number, shifted late and not early, starts a
 * main record (pairs are sparse; segments are not).
 */
uint32_t first_late(const roles &mr, const roles &pr, int r, uint32_t ref, int32_t top_early,
                    int32_t low_late, uint32_t lowest)
{
    const trace_array &main = g_trace.main, &peer = g_trace.peer;
    uint32_t early = g_peer_map.shift[r], late = g_peer_map.late_shift[r];
    /* The main records whose numbers the gap can map onto, only. */
    auto in_gap = [&](uint32_t main_seq, uint32_t shift) {
        int32_t at = static_cast<int32_t>(main_seq + shift - ref);
        return at > top_early && at < low_late;
    };
    std::unordered_set<uint32_t> starts;
    for (int32_t i = 0; i < main.count; i++)
        if (mr.of(i) == r && (in_gap(main.rec[i].seq_raw, early) || in_gap(main.rec[i].seq_raw, late)))
            starts.insert(main.rec[i].seq_raw);
    for (int32_t m = 0; m < peer.count; m++) {
        uint32_t seq = peer.rec[m].seq_raw;
        int32_t at = static_cast<int32_t>(seq - ref);
        if (at <= top_early || at >= low_late || pr.of(m) != r)
            continue;
        if (starts.count(seq - late) != 0 && starts.count(seq - early) == 0)
            low_late = at, lowest = seq;
    }
    return lowest;
}

/*
 * A shift that changes once mid-connection: a helper that rewrites a
 * payload to another length (an FTP or SIP helper of a NAT) shifts the
 * numbers of all that follows. The pairs of the last records (of all,
 * on traces no longer than a sample) then vote for another shift of a
 * role too; where its pairs all lie above those of the first shift in
 * sequence space, the change lies at the lowest of them.
 */
void learn_change(const roles &mr, const roles &pr, bool by_ids)
{
    const trace_array &main = g_trace.main, &peer = g_trace.peer;
    using key_fn = std::function<uint64_t(int32_t)>;
    key_fn mk = [&](int32_t i) { return invariant_key(main, i, by_ids); };
    key_fn pk = [&](int32_t m) { return invariant_key(peer, m, by_ids); };
    bool whole = main.count <= SAMPLE && peer.count <= SAMPLE;
    if (main.count > CHANGE_SEARCH_MAX || peer.count > CHANGE_SEARCH_MAX)
        return;
    auto pairs = pairs_by(mk, pk, whole ? SAMPLE_ALL : SAMPLE_LAST);
    for (int r = 0; r < 2; r++) {
        vote_box box;
        for (const auto &p : pairs)
            if (mr.of(p.first) == r && (main.rec[p.first].tcp_flags & TH_SYN) == 0)
                box.add(peer.rec[p.second].seq_raw - main.rec[p.first].seq_raw);
        box.n.erase(g_peer_map.shift[r]);
        uint32_t late = 0;
        if (box.winner(&late) < ID_PAIRS_CONFIRM)
            continue;
        auto all = whole ? pairs : pairs_by(mk, pk, SAMPLE_ALL);
        /* Sequence space from the first pair of the role on. */
        bool have = false, ordered = true;
        uint32_t ref = 0, lowest_late = 0;
        int32_t top_early = INT32_MIN, low_late = INT32_MAX;
        for (const auto &p : all) {
            if (mr.of(p.first) != r || (main.rec[p.first].tcp_flags & TH_SYN) != 0)
                continue;
            uint32_t seq = peer.rec[p.second].seq_raw, shift = seq - main.rec[p.first].seq_raw;
            if (!have)
                ref = seq, have = true;
            int32_t at = static_cast<int32_t>(seq - ref);
            if (shift == g_peer_map.shift[r])
                top_early = std::max(top_early, at);
            else if (shift == late && at < low_late)
                low_late = at, lowest_late = seq;
        }
        ordered = low_late != INT32_MAX && top_early < low_late;
        if (!ordered)
            continue;
        g_peer_map.changes[r] = true;
        g_peer_map.late_shift[r] = late;
        g_peer_map.change_at[r] = first_late(mr, pr, r, ref, top_early, low_late, lowest_late);
    }
}

/* The shift of role r's sequence number n, in the peer's numbers. */
uint32_t shift_at(const peer_map_state &s, int r, uint32_t n)
{
    return s.changes[r] && static_cast<int32_t>(n - s.change_at[r]) >= 0 ? s.late_shift[r]
                                                                          : s.shift[r];
}

ip_address address_of(const endpoint &e)
{
    ip_address a;
    std::memcpy(a.a6, e.a6, sizeof a.a6);
    a.a4 = e.a4;
    return a;
}

/* What showed the two traces to hold one connection, as -S names it. */
std::string evidence_text(const peer_map_state &s)
{
    std::vector<std::string> parts;
    if (s.same_client_isn)
        parts.push_back("the client's initial sequence number");
    else if ((s.evidence & PEER_BY_SYN) != 0)
        parts.push_back("the SYNs");
    std::string n = std::to_string(s.invariant_pairs);
    if ((s.evidence & PEER_BY_TIMESTAMPS) != 0)
        parts.push_back(n + " segments with equal TCP timestamps and lengths");
    if ((s.evidence & PEER_BY_IDS) != 0)
        parts.push_back(n + " segments with equal identifications and lengths");
    if ((s.evidence & PEER_BY_ADDRESSES) != 0)
        parts.push_back("the addresses and ports");
    std::string text;
    for (size_t k = 0; k < parts.size(); k++)
        text += (k == 0 ? "" : k + 1 == parts.size() ? " and " : ", ") + parts[k];
    return text;
}

}  // namespace

void peer_map_reset()
{
    g_peer_map = peer_map_state{};
    matcher_ignore_ids(false);
}

void peer_map_learn()
{
    peer_map_reset();
    const trace_array &main = g_trace.main, &peer = g_trace.peer;
    if (main.count == 0 || peer.count == 0)
        return;
    using key_fn = std::function<uint64_t(int32_t)>;
    auto pairs = pairs_by(key_fn([&](int32_t i) { return invariant_key(main, i, false); }),
                          key_fn([&](int32_t m) { return invariant_key(peer, m, false); }));
    g_peer_map.invariant_pairs = static_cast<int>(pairs.size());
    if (!pairs.empty()) {
        g_peer_map.evidence |= PEER_BY_TIMESTAMPS;
    } else {
        pairs = pairs_by(key_fn([&](int32_t i) { return invariant_key(main, i, true); }),
                         key_fn([&](int32_t m) { return invariant_key(peer, m, true); }));
        g_peer_map.invariant_pairs = static_cast<int>(pairs.size());
        if (!pairs.empty())
            g_peer_map.evidence |= PEER_BY_IDS;
    }
    int32_t main_syn = first_syn(main, TH_SYN), peer_syn = first_syn(peer, TH_SYN);
    roles mr(&main, main_syn < 0 || same_direction(main.rec[0], main.rec[main_syn]));
    roles pr(&peer, true);
    if (!orient_peer(mr, &pr, main_syn, peer_syn, pairs)) {
        g_peer_map.evidence = 0;
        g_peer_map.no_copy = true;
        return;
    }
    int agree = learn_shifts(mr, pr, pairs);
    bool by_ts = (g_peer_map.evidence & PEER_BY_TIMESTAMPS) != 0;
    bool by_ids = (g_peer_map.evidence & PEER_BY_IDS) != 0 && agree >= ID_PAIRS_CONFIRM &&
                  2 * agree > static_cast<int>(pairs.size());
    learn_ids(mr, pr);
    for (int r = 0; r < 2; r++) {
        g_peer_map.main_end[r] = end_of(mr, r);
        g_peer_map.peer_end[r] = end_of(pr, r);
        g_peer_map.translated[r] = !same_end(g_peer_map.main_end[r], g_peer_map.peer_end[r]);
    }
    bool same_ends = !g_peer_map.translated[0] && !g_peer_map.translated[1];
    /* Helpers that rewrite payloads sit in NATs and randomisers: captures
     * that agree on their ends and numbers are left as read. */
    if (!same_ends || g_peer_map.shift[0] != 0 || g_peer_map.shift[1] != 0)
        learn_change(mr, pr, !by_ts);
    /* Equal ends are today's evidence, and enough: such captures keep
     * their records as read. Otherwise a segment seen in both must show
     * it, or the client's initial sequence number (32 random bits). */
    if (!same_ends && !by_ts && !by_ids && !g_peer_map.same_client_isn) {
        g_peer_map.no_copy = true;
        return;
    }
    g_peer_map.learned = true;
}

bool peer_map_needed()
{
    const peer_map_state &s = g_peer_map;
    return s.learned && (s.translated[0] || s.translated[1] || s.shift[0] != 0 ||
                         s.shift[1] != 0 || s.ids_disagree || s.changes[0] || s.changes[1]);
}

void peer_map_apply()
{
    if (!peer_map_needed())
        return;
    const peer_map_state &s = g_peer_map;
    trace_array &peer = g_trace.peer;
    uint16_t addr[2] = {trace_address_index(address_of(s.main_end[0])),
                        trace_address_index(address_of(s.main_end[1]))};
    bool rec0_client = first_syn(peer, TH_SYN) < 0
                           ? same_end(source_of(peer.rec[0]), s.peer_end[0])
                           : same_direction(peer.rec[0], peer.rec[first_syn(peer, TH_SYN)]);
    roles pr(&peer, rec0_client);
    /* Few flows (the two ways, and those of records with ack field 0):
     * each new one is made once. */
    std::unordered_map<uint32_t, uint32_t> made[2];
    for (int32_t m = 0; m < peer.count; m++) {
        seg_record &rec = peer.rec[m];
        int r = pr.of(m);
        uint32_t seq_shift = shift_at(s, r, rec.seq_raw);
        uint32_t ack_shift = shift_at(s, 1 - r, rec.ack_raw);
        /* A flow's bases follow the first shift; past a change the
         * numbers do, and the relative ones are read by nobody. */
        auto it = made[r].find(rec.flow);
        if (it == made[r].end()) {
            flow_entry f = flow_of(rec);
            f.src_addr = addr[r];
            f.dst_addr = addr[1 - r];
            f.sport = s.main_end[r].port;
            f.dport = s.main_end[1 - r].port;
            /* Bases in the main trace's terms, mod 2^32: the peer's
             * relative numbers are read by nobody, its carried ones by
             * the matcher. */
            f.seq_base = static_cast<uint32_t>(f.seq_base - s.shift[r]);
            if (f.ack_base != 0)
                f.ack_base = static_cast<uint32_t>(f.ack_base - s.shift[1 - r]);
            it = made[r].emplace(rec.flow, trace_flow_index(f)).first;
        }
        rec.flow = it->second;
        rec.seq_raw -= seq_shift;
        if ((rec.tcp_flags & TH_ACK) != 0 && rec.ack_raw != 0)
            rec.ack_raw -= ack_shift;
    }
    matcher_ignore_ids(s.ids_disagree);
    g_peer_map.applied = true;
}

std::string peer_end_text(const endpoint &e, bool v6)
{
    char host[INET6_ADDRSTRLEN] = "";
    if (v6) {
        inet_ntop(AF_INET6, e.a6, host, sizeof host);
        return std::string("[") + host + "]:" + std::to_string(e.port);
    }
    std::snprintf(host, sizeof host, "%u.%u.%u.%u", (unsigned)(e.a4 >> 24) & 255,
                  (unsigned)(e.a4 >> 16) & 255, (unsigned)(e.a4 >> 8) & 255,
                  (unsigned)e.a4 & 255);
    return std::string(host) + ":" + std::to_string(e.port);
}

namespace {

/* "N higher" or "N lower" of a shift mod 2^32 ("the same": 0). */
std::string shift_text(uint32_t shift)
{
    if (shift == 0)
        return "the same";
    bool lower = shift > 0x80000000u;
    return std::to_string(lower ? 0u - shift : shift) + (lower ? " lower" : " higher");
}

}  // namespace

std::string peer_map_no_copy_line()
{
    if (!g_peer_map.no_copy)
        return "";
    return "wirepaint: the other capture holds no copy of this connection: no segment with the "
           "same TCP timestamps or identifications, nor the same initial sequence number, in "
           "both (a proxy that terminates TCP makes two separate connections)\n";
}

std::vector<std::string> peer_map_lines(int left_role)
{
    std::vector<std::string> out;
    const peer_map_state &s = g_peer_map;
    if (!s.applied)
        return out;
    std::string names;
    for (int r = 0; r < 2; r++) {
        if (!s.translated[r])
            continue;
        bool first = names.empty();
        names += first ? "" : "; ";
        names += peer_end_text(s.main_end[r], g_trace.ipv6) + " is " +
                 peer_end_text(s.peer_end[r], g_trace.ipv6);
        if (first)
            names += " in the other capture";
    }
    if (!names.empty())
        out.push_back("Translated:      " + names + "\n");
    out.push_back("Same connection: " + evidence_text(s) + "\n");
    for (int r = 0; r < 2; r++) {
        if (s.shift[r] == 0 && !s.changes[r])
            continue;
        const char *way = r == left_role ? "L>R" : "R>L";
        std::string line = std::string("Sequence numbers: the other capture's ") + way + " are " +
                           shift_text(s.shift[r]);
        if (s.changes[r])
            line += ", and " + shift_text(s.late_shift[r]) + " from its " +
                    std::to_string(s.change_at[r]) + " on (the offset changed once)";
        out.push_back(line + "\n");
    }
    if (s.ids_disagree)
        out.push_back("Identifications: differ between the captures (" +
                      std::to_string(s.id_differ) + " of " +
                      std::to_string(s.id_differ + s.id_equal) +
                      " copies sampled); copies found by their numbers\n");
    return out;
}
