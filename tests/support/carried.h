/*
 * carried.h --
 *
 *	Test support: compares what a record gives back of its TCP header
 *	(ports, sequence and acknowledgement numbers as carried) with the
 *	header in the record's own packet bytes.
 */

#ifndef WIREPAINT_TESTS_CARRIED_H
#define WIREPAINT_TESTS_CARRIED_H

#include <cstdint>
#include <string>

#include "trace/binread.h"
#include "capture/bytes.h"
#include "trace/flow.h"
#include "trace/trace.h"

namespace carried {

/* Record i of t against the TCP header in its bytes: "" when its ports
 * and carried numbers read back as the packet carries them, else what
 * differs. */
inline std::string mismatch(const trace_array &t, int32_t i)
{
    const uint8_t *p = record_bytes(&t, i);
    int32_t have = record_cap_bytes(&t, i);
    tcp_header_place w;
    std::string at = "record " + std::to_string(i) + ": ";
    if (p == nullptr || have <= 0 || !find_tcp_header(p, static_cast<uint32_t>(have), &w))
        return at + "no TCP header in its bytes";
    const uint8_t *tcp = p + w.off;
    const seg_record &r = t.rec[i];
    if (sport_of(r) != read_be16(tcp) || dport_of(r) != read_be16(tcp + 2))
        return at + "ports " + std::to_string(sport_of(r)) + ">" + std::to_string(dport_of(r));
    if (seq_raw_of(r) != read_be32(tcp + 4) || ack_raw_of(r) != read_be32(tcp + 8))
        return at + "numbers " + std::to_string(seq_raw_of(r)) + "/" + std::to_string(ack_raw_of(r)) +
               ", carried " + std::to_string(read_be32(tcp + 4)) + "/" +
               std::to_string(read_be32(tcp + 8));
    return "";
}

/* The first record of t that mismatch finds at fault, or "". */
inline std::string first_mismatch(const trace_array &t)
{
    for (int32_t i = 0; i < t.count; i++) {
        std::string m = mismatch(t, i);
        if (!m.empty())
            return m;
    }
    return "";
}

}  // namespace carried

#endif
