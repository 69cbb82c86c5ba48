/*
 * restamp.c --
 *
 *	Rewrites the time stamps of a capture as a clock that is OFFSET
 *	seconds ahead and runs PPM parts per million fast (negative: behind,
 *	slow) would have taken them, so that two-ended captures made on one
 *	machine's clock can stand for captures on two drifting clocks whose
 *	truth is known. A packet captured at T (the file's own stamp) is
 *	stamped T + OFFSET + PPM / 10^6 * (T - T0), T0 the first packet's
 *	stamp, to the nearest microsecond. Packets are copied unchanged
 *	through libpcap's reader and writer (the output is a classic pcap
 *	file with the input's link type and snapshot length).
 *
 *	    restamp [-o OFFSET] [-p PPM] IN OUT
 *
 *	Exit status 0 on success, 1 on a bad argument or a file that cannot
 *	be read or written.
 */

#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <math.h>
#include <unistd.h>

#include <pcap/pcap.h>

static void usage(void)
{
    fprintf(stderr, "Usage: restamp [-o offset_s] [-p ppm] in.pcap out.pcap\n");
    exit(1);
}

int main(int argc, char **argv)
{
    double offset = 0.0, ppm = 0.0;
    int c;
    while ((c = getopt(argc, argv, "o:p:")) != -1) {
        if (c == 'o')
            offset = atof(optarg);
        else if (c == 'p')
            ppm = atof(optarg);
        else
            usage();
    }
    if (argc - optind != 2)
        usage();
    char errbuf[PCAP_ERRBUF_SIZE];
    pcap_t *in = pcap_open_offline(argv[optind], errbuf);
    if (in == NULL) {
        fprintf(stderr, "restamp: %s\n", errbuf);
        return 1;
    }
    pcap_dumper_t *out = pcap_dump_open(in, argv[optind + 1]);
    if (out == NULL) {
        fprintf(stderr, "restamp: %s\n", pcap_geterr(in));
        pcap_close(in);
        return 1;
    }
    int64_t first = 0, shift = llround(offset * 1e6);
    int seen = 0, rc;
    struct pcap_pkthdr *hdr;
    const u_char *data;
    while ((rc = pcap_next_ex(in, &hdr, &data)) == 1) {
        int64_t us = (int64_t)hdr->ts.tv_sec * 1000000 + hdr->ts.tv_usec;
        if (!seen++)
            first = us;
        us += shift + llround((double)(us - first) * ppm * 1e-6);
        struct pcap_pkthdr h = *hdr;
        h.ts.tv_sec = (time_t)(us / 1000000);
        h.ts.tv_usec = (suseconds_t)(us % 1000000);
        pcap_dump((u_char *)out, &h, data);
    }
    int failed = rc == -1;
    if (failed)
        fprintf(stderr, "restamp: %s\n", pcap_geterr(in));
    if (pcap_dump_flush(out) != 0)
        failed = 1;
    pcap_dump_close(out);
    pcap_close(in);
    return failed;
}
