/*
 * trace.h --
 *
 *	The segment record and the process-wide trace state of wirepaint.
 *
 *	A capture file becomes a trace: an ordered array of seg_record, one
 *	per accepted TCP segment, in file order. The loader keeps two traces
 *	(the main trace, analysed and drawn, and in two-file mode the peer
 *	trace, used only to find each segment's copy) and one trace under
 *	construction that the decoder appends to while a file is read. Beside
 *	them live the connection key of the file read last, the IPv6 flag,
 *	the copy length and the reader's state.
 *
 *	All of it is gathered in one record, g_trace, with one instance, so a
 *	test can put it back to its process-start state with trace_state_clear.
 */

#ifndef WIREPAINT_TRACE_TRACE_H
#define WIREPAINT_TRACE_TRACE_H

#include <cstddef>
#include <cstdint>

struct line_record;
struct file_map;

/*
 * One accepted TCP segment. A new record is all zero before the decoder
 * fills it; the analysis fields are written by the analysis passes.
 *
 * The record is kept small (40 bytes), since a trace holds one per
 * segment and every pass reads them all. What all records of one way of
 * a connection share is not stored in each but once, in the flow table
 * (flow_entry below), which the record indexes: its two addresses (as
 * indexes into the address table), its two ports, and the bases of its
 * relative numbers, which come from the carried ones it holds: seq, the
 * sequence number relative to its direction's ISN, and ack, the ack
 * number relative to the other ISN, 0 for an ack field of 0
 * (trace/flow.h, trace/direction.h read them). Its packet copy,
 * with the count of its bytes that are packet data, lies in one of the
 * trace's copy blocks, found from the record's index (record_bytes).
 */
struct seg_record {
    float time;          /* s since the trace's first segment; 0 for record 0 */
    float ack_time;      /* s from this segment to its acknowledgement; -1 none */
    float resp_time;     /* s from the highest earlier ack to this segment; -1 none */
    int32_t paylen;      /* TCP payload bytes from the IP length; may be < 0 */
    uint32_t seq_raw;    /* sequence number as carried, host order */
    uint32_t ack_raw;    /* acknowledgement number as carried, host order */
    int32_t acked_by;    /* index of the record acknowledging this one; 0 none */
    uint32_t flow;       /* index into g_trace.flows: addresses, ports and
                          * number bases; 0 is the all-zero entry */
    uint16_t ip_id;      /* IPv4 identification, host order; 0 for IPv6 */
    uint16_t win;        /* TCP window as carried (unscaled), host order */
    uint8_t mark;        /* segment class of the marking pass; 0 none */
    uint8_t mark_flags;  /* bit 0: skip flag (kept out of delay sampling) */
    uint8_t tcp_flags;   /* TCP flags byte as carried */
    uint8_t pair_flags;  /* PAIR_ACKS: set by the acknowledgement pairing */
};

static_assert(sizeof(seg_record) == 40, "a record is 40 bytes");

/* The skip flag in seg_record.mark_flags. */
enum { MARK_SKIP = 0x01 };

/* In seg_record.pair_flags: the record acknowledges a record other than
 * record 0 (the pairing linked one to it as its acknowledgement). */
enum { PAIR_ACKS = 0x01 };

/* TCP flag bits of seg_record.tcp_flags. */
enum {
    TH_FIN = 0x01,
    TH_SYN = 0x02,
    TH_RST = 0x04,
    TH_PUSH = 0x08,
    TH_ACK = 0x10,
    TH_URG = 0x20
};

/*
 * A block of packet copies. The copies of a trace are cut one after the
 * other, in record order, from large zero-filled blocks, so that reading a
 * file allocates once per block rather than once per packet; the blocks
 * of a trace are chained, newest first, listed oldest first in the
 * trace's block table, and freed together by trace_free. A block is a
 * mapping of its own, 2 MiB-aligned, whose pages the reader's helper
 * supplies ahead (capture/prefault.h): first touching a large array costs
 * more than anything else a load does.
 *
 * Every copy of a trace has one length, so a block holds a fixed number
 * of slots and record i's copy is found from i alone. A slot is the
 * count of packet-data bytes of the copy (int32, host order; the rest of
 * the copy is zero fill), then the copy.
 */
struct copy_block {
    copy_block *prev;    /* block allocated before this one; null: oldest */
    size_t size;         /* bytes of copy space after this header */
    size_t used;         /* bytes of it handed out */
};

/* Bytes of one block, header included: two huge pages. A slot larger
 * than that gets a block of its own, rounded up to whole huge pages. */
enum { COPY_BLOCK_BYTES = 4 << 20 };

/* Bytes before the copy in its slot: the count of packet-data bytes. */
enum { COPY_SLOT_HEAD = 4 };

/*
 * A trace: records in file order and their count. `cap` is the allocated
 * room in records; the array grows geometrically, so indexes stay stable
 * in value but a pointer into the array is valid only until the next
 * append. An empty trace has rec == nullptr and count == 0. The packet
 * copies of its records lie in its blocks (`copies`), which move with it
 * when the trace is handed from one slot to another.
 */
struct trace_array {
    seg_record *rec;
    int32_t count;
    int32_t cap;
    copy_block *copies;  /* newest block of packet copies; null: none */
    copy_block **blocks; /* the blocks, oldest first (malloc'ed table) */
    int32_t nblocks;     /* blocks in it */
    int32_t blocks_cap;  /* room of the table */
    int32_t copy_len;    /* bytes of every copy; 0 before the first */
    int32_t per_block;   /* slots in each block */
    int32_t ncopies;     /* copies cut: those of records 0 .. ncopies-1 */
    void *rec_map;       /* the mapping of rec when trace_grow_records made
                          * it (rec == rec_map); otherwise rec is malloc'ed */
    size_t rec_map_len;  /* bytes of that mapping */
    file_map *map;       /* the capture file the records' bytes are read
                          * from (capture/filemap.h), set by the reader; null:
                          * they lie in the copy blocks */
    uint32_t ttl_count[2][256]; /* records per IPv4 TTL or IPv6 hop limit:
                          * [0] those travelling as record 0, [1] the
                          * others; counted by the decoder, so that the
                          * capture host can be told without a field in
                          * every record (analysis/left_host.h) */
    int32_t option_free; /* records that are SYNs or whose TCP header has
                          * no options (20 bytes), counted by the decoder:
                          * when it equals count, only SYNs can carry
                          * options, and readers of options skip the rest */
    int32_t *bad_opt;    /* indexes, rising, of the records whose options
                          * may end malformed in the summary: true
                          * tcp_options_may_end_malformed on the bytes
                          * record_bytes gives, cut to the copy length;
                          * malloc'ed, appended to by the decoder, so that
                          * the text priming need not read every record's
                          * bytes again. Empty on most captures; given up
                          * (bad_opt_upto -1) before it holds more than 64
                          * and a sixteenth of the records */
    int32_t bad_opt_count; /* entries in bad_opt */
    int32_t bad_opt_cap; /* room of bad_opt, entries */
    int32_t bad_opt_upto; /* records 0 .. bad_opt_upto - 1 were checked by
                          * the decoder as it appended them, with copy
                          * length copy_len: the list is complete for them.
                          * -1 once an entry could not be kept. Only when
                          * it equals count may a reader trust the list */
};

/*
 * An IP address in both forms, only the connection's IP version's form
 * nonzero: IPv6 bytes as carried, or an IPv4 address as a host-order
 * number (first address byte most significant).
 */
struct ip_address {
    uint8_t a6[16];
    uint64_t a4;
};

/* Entries of the address table; an index is 16 bits. */
enum { ADDRESS_TABLE_SIZE = 1024 };

/*
 * The distinct addresses of the records of all traces, each stored once.
 * Entry 0 is the all-zero address, so a zeroed record has two zero
 * addresses. Equal addresses have equal indexes. A load adds the two
 * addresses of each file's connection; the reset before a reopen (and
 * trace_state_clear) empties it, since no record is left then.
 */
struct address_table {
    ip_address addr[ADDRESS_TABLE_SIZE]; /* entry 0 all zero; set by
                                          * trace_address_index */
    int32_t count;                       /* entries in use beyond entry 0 */
};

/*
 * What all records of one way of a connection share, kept once: the
 * record's addresses and ports, and the bases of its relative numbers:
 * seq is seq_raw - seq_base and ack is ack_raw - ack_base.
 */
struct flow_entry {
    uint16_t src_addr;   /* source address: index into g_trace.addrs */
    uint16_t dst_addr;   /* destination address, as src_addr */
    uint16_t sport;      /* TCP source port, host order */
    uint16_t dport;      /* TCP destination port, host order */
    int64_t seq_base;    /* the decoder's: the ISN of the record's
                          * direction; any value for a record made by hand */
    int64_t ack_base;    /* the decoder's: the other direction's ISN, 0
                          * for the records whose ack field is 0 */
};

static_assert(sizeof(flow_entry) == 24, "a flow entry has no padding");

/* Entries of the flow table, and slots of its hash index (twice as many).
 * Both arrays lie in g_trace, which only the pages in use cost. */
enum { FLOW_TABLE_SIZE = 1 << 17, FLOW_SLOTS = 2 * FLOW_TABLE_SIZE };

/*
 * The distinct flow entries of the records of all traces, each stored
 * once. Entry 0 is all zero, so a zeroed record reads zero addresses
 * and ports and its relative numbers as its carried ones. A load adds
 * a few per file read (the two ways of its connection, those of the
 * records whose ack field is 0 apart); the reset before a reopen (and
 * trace_state_clear) empties it with the address table. Entries never
 * change once added, so a thread may read the entries of records it
 * holds while the decoder adds others.
 */
struct flow_table {
    int32_t count;                       /* entries in use beyond entry 0 */
    uint32_t slot[FLOW_SLOTS];           /* hash index of entries 1 ..
                                          * count by their bytes, open
                                          * addressing; 0: empty */
    flow_entry flow[FLOW_TABLE_SIZE];    /* entry 0 all zero; set by
                                          * trace_flow_index */
};

/*
 * The connection key, fixed by the first accepted segment of each file read.
 * Addresses are held in both forms; only the connection's IP version's form
 * is nonzero.
 */
struct conn_key {
    uint8_t src6[16];    /* first segment's IPv6 source, network order */
    uint8_t dst6[16];    /* first segment's IPv6 destination */
    uint64_t src4;       /* first segment's IPv4 source, host order */
    uint64_t dst4;       /* first segment's IPv4 destination, host order */
    uint16_t src_addr;   /* key_src's index in the address table */
    uint16_t dst_addr;   /* key_dst's index in the address table */
    uint16_t sport;      /* first segment's source port */
    uint16_t dport;      /* first segment's destination port */
    uint64_t isn_fwd;    /* base of seq in the first direction, of ack in the other */
    uint64_t isn_rev;    /* base of seq in the reverse direction, of ack in the
                          * first; 0 until learnt */
    uint8_t rev_learnt;  /* 1 once isn_rev was taken from a segment: the
                          * first one's nonzero ack field, a later one of
                          * the first direction's nonzero ack field or a
                          * reverse segment's sequence number */
    uint32_t flow_hint[2]; /* flow entry of the last record of the first
                          * [0] and the reverse [1] direction, looked at
                          * first for the next; set by the decoder */
    int64_t t0_sec;      /* first segment's capture time stamp, seconds */
    int64_t t0_usec;     /* ... and microseconds */
};

/*
 * All process-wide trace state. One instance, g_trace.
 */
struct trace_state {
    trace_array building; /* trace under construction; decoder appends here */
    trace_array main;     /* analysed and drawn; set by the loader */
    trace_array peer;     /* two-file mode only; count 0 in one-file mode */
    conn_key key;         /* key of the file read last; set by the decoder */
    int ipv6;             /* 1 when the file read last is IPv6; set by decoder */
    int copy_len;         /* bytes in every record's copy; 0 until fixed by the
                           * first accepted segment, or the -s value */
    int saved_copy_len;   /* the -s value (atoi), restored by a reset */
    float duration;       /* s, last minus first record time of the main trace */
    int loaded;           /* 1 once a load finished; loader and open-file */
    uint8_t verbose;      /* 1 for -V: loader writes progress on stderr */
    int linktype;         /* pcap_datalink of the file being read */
    int snaplen;          /* pcap_snapshot of the file being read */
    uint8_t *copybuf;     /* snaplen + 4 bytes, owned by the reader */
    const char *reading;  /* name of the file being read, for messages */
    line_record *lines;   /* line list, one per main record; owned here since
                           * the reset frees it; built by the analysis */
    address_table addrs;  /* addresses the records index; the decoder and
                           * the setters of trace/direction.h add to it */
    flow_table flows;     /* flow entries the records index; the decoder
                           * and the setters of trace/flow.h and
                           * trace/direction.h add to it. Last, so that a
                           * clear leaves its unused pages untouched */
};

extern trace_state g_trace;

/*
 * trace_state_clear --
 *	Frees every record copy, the three arrays, the line list and the copy
 *	buffer, and puts g_trace back to its process-start state (all zero).
 *	For tests and for the process start; the loader's reset is narrower.
 */
void trace_state_clear();

/*
 * trace_free --
 *	Frees the copy blocks, the array and the list of records with
 *	malformed options of one trace and empties it.
 */
void trace_free(trace_array *t);

/*
 * trace_note_bad_options --
 *	Appends record `i` to t's list of records whose options may end
 *	malformed (trace_array.bad_opt); false, changing nothing, when the
 *	memory cannot be had.
 */
bool trace_note_bad_options(trace_array *t, int32_t i);

/*
 * trace_grow_records --
 *	Makes room for at least `want` records in t (want > t->cap), keeping
 *	the records it holds; t->cap becomes the room made, which may be
 *	more. An empty trace gets a mapping of its own, aligned for huge
 *	pages, that later growth moves without copying; an array that came
 *	from malloc is grown with realloc. Untouched room costs no memory.
 *	Returns false, changing nothing, when the memory cannot be had.
 */
bool trace_grow_records(trace_array *t, int32_t want);

/*
 * trace_new_copy --
 *	Cuts the copy of record t->ncopies (the next one: copies are cut in
 *	record order) and returns its `n` zero-filled bytes, with `cap` kept
 *	as the count of them that will hold packet data. The slot comes from
 *	the newest copy block, or from a new block (of COPY_BLOCK_BYTES, or
 *	more for a larger slot) when that one is full. Every copy of a trace
 *	has the length of its first. The bytes live until trace_free(t).
 *	Returns nullptr, changing nothing, when n is 0 or differs from the
 *	trace's copy length, or the memory for a new block cannot be had.
 */
uint8_t *trace_new_copy(trace_array *t, size_t n, int32_t cap);

/*
 * record_bytes --
 *	The `bytes` of record i of t: its packet from its IP header on, or
 *	nullptr when the record has none. Only its first record_cap_bytes
 *	bytes may be read: a copy has zero fill after them, a packet read in
 *	the mapped file (t->map) the file's next bytes. No side effects.
 */
const uint8_t *record_bytes(const trace_array *t, int32_t i);

/*
 * record_cap_bytes --
 *	The count of packet-data bytes of record i's bytes, at most the copy
 *	length (what trace_new_copy was given); 0 when the record has none.
 */
int32_t record_cap_bytes(const trace_array *t, int32_t i);

/*
 * trace_map_to_copies --
 *	Gives up t's map: cuts a copy of the bytes of each record placed in
 *	it (trace_new_copy, copy length t->copy_len), then unmaps the file.
 *	False, with t->map kept, when the memory for a copy cannot be had.
 */
bool trace_map_to_copies(trace_array *t);

/*
 * trace_release_bytes --
 *	For a pass that reads the bytes of every record once: gives back the
 *	pages of the mapped file holding records [from, to) of t, which stay
 *	readable (capture/filemap.h). No effect on copies.
 */
void trace_release_bytes(const trace_array *t, int32_t from, int32_t to);

/*
 * trace_release_behind --
 *	For a pass reading record i's bytes with i rising: at every
 *	RELEASE_RECORDS-th record, and at i == t->count when the pass is
 *	done, gives back the pages of the records before i since the last
 *	such point (trace_release_bytes).
 */
void trace_release_behind(const trace_array *t, int32_t i);

/* Records between two give-backs of a pass over every record's bytes. */
enum { RELEASE_RECORDS = 1 << 14 };

/*
 * trace_ask_records_ahead --
 *	Asks the populate-ahead helper (capture/prefault.h) for the pages of
 *	t's record array from record `from` on, RECORDS_AHEAD bytes' worth,
 *	within its room. A hint: no effect without a helper.
 */
void trace_ask_records_ahead(trace_array *t, int32_t from);

/* Bytes of records asked for at a time: one huge page. */
enum { RECORDS_AHEAD = 2 << 20 };

/*
 * trace_trim --
 *	Gives back the whole pages of t's record array past its last record
 *	and of its newest copy block past the last copy (zero when touched
 *	again), which a populate-ahead helper may have filled in. Changes no
 *	record and no copy.
 */
void trace_trim(trace_array *t);


/*
 * trace_address_index --
 *	The index of `a` in g_trace.addrs, adding it when it is new. Fails
 *	through load_fail (a message, status -1) when the table is full, which
 *	takes more than ADDRESS_TABLE_SIZE - 1 distinct addresses between two
 *	resets (a load adds at most four).
 */
uint16_t trace_address_index(const ip_address &a);

/*
 * trace_flow_index --
 *	The index of `f` in g_trace.flows, adding it when it is new. Fails
 *	through load_fail (a message, status -1) when the table is full,
 *	which takes more than FLOW_TABLE_SIZE - 1 distinct entries between
 *	two resets (a load adds at most eight per file, four in the common
 *	case: two ways, each with and without an ack field). Constant time.
 */
uint32_t trace_flow_index(const flow_entry &f);

/* Empties the address and the flow table (every record then reads two
 * zero addresses, zero ports and its relative numbers as carried). */
void trace_addresses_clear();

/* The time of a trace's last record minus that of its first; 0 if empty. */
float trace_span(const trace_array *t);

#endif
