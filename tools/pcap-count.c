/*
 * pcap-count.c --
 *
 *	The floor for reading a capture file: opens it with libpcap, runs
 *	pcap_loop over every packet with a handler that only counts, and
 *	prints the count. tools/bench-load.sh times wirepaint's load against
 *	it, since no reader of a savefile can be faster than libpcap's own
 *	loop over it.
 *
 *	    pcap_count CAPTURE
 *
 *	Exit status 0 on success, 1 when the file cannot be opened or read.
 */

#include <stdio.h>

#include <pcap/pcap.h>

/* Counts one packet into the unsigned long that `user` points to. */
static void count_packet(u_char *user, const struct pcap_pkthdr *hdr, const u_char *data)
{
    (void)hdr;
    (void)data;
    (*(unsigned long *)user)++;
}

int main(int argc, char **argv)
{
    char errbuf[PCAP_ERRBUF_SIZE];
    unsigned long count = 0;
    pcap_t *pc;

    if (argc != 2) {
        fprintf(stderr, "Usage: %s capture\n", argv[0]);
        return 1;
    }
    pc = pcap_open_offline(argv[1], errbuf);
    if (pc == NULL) {
        fprintf(stderr, "pcap_count: %s\n", errbuf);
        return 1;
    }
    if (pcap_loop(pc, -1, count_packet, (u_char *)&count) < 0) {
        fprintf(stderr, "pcap_count: %s\n", pcap_geterr(pc));
        pcap_close(pc);
        return 1;
    }
    pcap_close(pc);
    printf("%lu\n", count);
    return 0;
}
