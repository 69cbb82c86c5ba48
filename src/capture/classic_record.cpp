/*
 * classic_record.cpp --
 *
 *	libpcap's reading of one classic savefile record (classic_record.h),
 *	shared by the walks over a mapped file and over a ring.
 */

#include "capture/classic_record.h"

#include <cstdio>

#include "capture/bytes.h"
#include "capture/linktype.h"

namespace {

uint32_t word(const uint8_t *p, bool swapped)
{
    return swapped ? read_be32(p) : read_le32(p);
}

}  // namespace

void classic_header(const uint8_t *h, classic_format f, struct pcap_pkthdr *hdr)
{
    /* libpcap takes the stamp's two fields as signed 32-bit numbers in
     * a file of this machine's order, as unsigned ones once it swapped
     * them. */
    uint32_t sec = word(h, f.swapped);
    uint32_t frac = word(h + 4, f.swapped);
    hdr->ts.tv_sec = f.swapped ? (time_t)sec : (time_t)(int32_t)sec;
    int64_t us = f.swapped ? (int64_t)frac : (int64_t)(int32_t)frac;
    hdr->ts.tv_usec = (suseconds_t)(f.nano ? us / 1000 : us);
    hdr->caplen = word(h + 8, f.swapped);
    hdr->len = word(h + 12, f.swapped);
}

bool classic_bad_caplen(const struct pcap_pkthdr *hdr, int snapshot, char *errbuf)
{
    if (hdr->caplen <= CLASSIC_MAX_CAPLEN)
        return false;
    if (hdr->caplen > (uint32_t)snapshot)
        std::snprintf(errbuf, PCAP_ERRBUF_SIZE, "invalid packet capture length %u, bigger than snaplen of %d",
                      hdr->caplen, snapshot);
    else
        std::snprintf(errbuf, PCAP_ERRBUF_SIZE, "invalid packet capture length %u, bigger than maximum of %u",
                      hdr->caplen, (unsigned)CLASSIC_MAX_CAPLEN);
    return true;
}

bool classic_cut(struct pcap_pkthdr *hdr, int snapshot, size_t left, char *errbuf)
{
    uint32_t snap = (uint32_t)snapshot;
    uint32_t want = hdr->caplen > snap ? snap : hdr->caplen;
    if (left < want || left < hdr->caplen) {
        /* libpcap names the whole captured length once it got the
         * snapshot's part and was stepping over the rest. */
        uint32_t tried = left < want ? want : hdr->caplen;
        std::snprintf(errbuf, PCAP_ERRBUF_SIZE,
                      "truncated dump file; tried to read %u captured bytes, only got %zu", tried, left);
        return true;
    }
    hdr->caplen = want;
    return false;
}

void classic_cut_header(size_t got, char *errbuf)
{
    std::snprintf(errbuf, PCAP_ERRBUF_SIZE, "truncated dump file; tried to read %d header bytes, only got %zu",
                  (int)CLASSIC_RECORD_HEADER, got);
}

bool classic_walkable(pcap_t *pc, classic_format f, int linktype)
{
    int lt = pcap_datalink(pc);
    bool cooked = lt == DLT_LINUX_SLL || lt == DLT_LINUX_SLL2;
    return pcap_major_version(pc) == 2 && pcap_minor_version(pc) >= 4 &&
           (pcap_is_swapped(pc) == 1) == f.swapped && lt == linktype &&
           pcap_get_tstamp_precision(pc) == PCAP_TSTAMP_PRECISION_MICRO &&
           link_header_length(lt) >= 0 && !(cooked && f.swapped);
}
