/*
 * text_state.h --
 *
 *	The process-wide state of the segment text subsystem, in one record
 *	with one instance, g_text: the relative sequence table, the three name
 *	caches with their entry pools, the dotted-quad scratch text and the
 *	detail text buffer.
 *
 *	The table and the caches start empty at process start (g_text is a
 *	static object, so every bucket is a blank slot), only grow while the
 *	program runs, and are never cleared by the program: a connection or
 *	an address met in one capture file is still known when another is
 *	opened. text_state_clear exists for tests, which need a fresh start.
 */

#ifndef WIREPAINT_TEXT_TEXT_STATE_H
#define WIREPAINT_TEXT_TEXT_STATE_H

#include <cstddef>
#include <cstdint>

/* Buckets of the relative sequence table; a prime, keyed by the port pair. */
enum { RELSEQ_BUCKETS = 919 };

/* Buckets of each name cache, and slots in one entry-pool block. */
enum { NAME_BUCKETS = 4096, NAME_POOL_BLOCK = 64 };

/* Size of the detail text buffer, terminating zero included. */
enum { DETAIL_TEXT_SIZE = 65536 };

/*
 * The endpoint pair of a connection, 36 bytes, compared whole. The first
 * endpoint is the one with the lower port (lower address on equal ports).
 */
struct relseq_key {
    uint8_t first_addr[16];   /* network order; IPv4 in bytes 0-3, rest 0 */
    uint8_t second_addr[16];  /* the same for the second endpoint */
    uint32_t port_pair;       /* first port * 65536 + second port */
};

/*
 * One slot of the relative sequence table. A slot holds an entry only when
 * `next` is not null; every chain ends in a blank slot (next == null).
 */
struct relseq_slot {
    relseq_slot *next;        /* following slot of the chain; null: blank */
    relseq_key key;           /* the connection's endpoint pair */
    uint32_t first_base;      /* subtracted in the first endpoint's space */
    uint32_t second_base;     /* subtracted in the second endpoint's space */
};

/* A slot of the IPv4 host cache and of the port cache. */
struct name_entry {
    uint32_t key;             /* IPv4 bytes read little-endian, or the port */
    char *text;               /* owned text, made once, never changed */
    name_entry *next;         /* following slot; null in the blank slot */
};

/* A slot of the IPv6 host cache. */
struct name6_entry {
    uint8_t addr[16];         /* the address as carried */
    char *text;               /* owned text from inet_ntop */
    name6_entry *next;        /* following slot; null in the blank slot */
};

/* A block of the entry pool; blocks are chained so a test reset can free them. */
struct name_block {
    name_block *prev;                       /* block allocated before this one */
    name_entry slot[NAME_POOL_BLOCK];       /* zero-filled slots */
};

struct name6_block {
    name6_block *prev;
    name6_entry slot[NAME_POOL_BLOCK];
};

/* A pool: the current block and the slots of it not yet handed out. */
struct name_pool {
    name_block *block;        /* current block; null before the first */
    int left;                 /* slots of `block` not yet handed out */
    int blocks;               /* blocks allocated so far */
};

struct name6_pool {
    name6_block *block;
    int left;
    int blocks;
};

/*
 * All state of the segment text subsystem. One instance, g_text.
 */
struct text_state {
    /* Relative sequence table: bucket slots; further slots are allocated
     * one at a time by relative_sequence_numbers and linked through next. */
    relseq_slot relseq[RELSEQ_BUCKETS];
    int relseq_extra;                  /* slots allocated beyond the buckets */

    /* Name caches, filled by ipv4_host_text, tcp_port_text, ipv6_host_text. */
    name_entry ipv4_cache[NAME_BUCKETS];
    name_entry port_cache[NAME_BUCKETS];
    name6_entry ipv6_cache[NAME_BUCKETS];
    name_pool pool;                    /* shared by the IPv4 and port caches */
    name6_pool pool6;                  /* the IPv6 cache's pool */

    /* dotted_quad_text's result, overwritten by every call. */
    char quad[17];

    /* The detail text buffer that segment_detail_text clears and fills. */
    char detail[DETAIL_TEXT_SIZE];
};

extern text_state g_text;

/*
 * text_state_clear --
 *	Frees every slot, block and text the table and the caches allocated and
 *	puts g_text back to its process-start state (all zero). Texts handed
 *	out before become invalid. For tests only: the program never clears.
 */
void text_state_clear();

/*
 * text_zalloc --
 *	Returns `size` zero-filled bytes for a table slot, a pool block or a
 *	text copy. These are never given back while the program runs. When
 *	memory is exhausted, writes the "malloc" message through perror and
 *	ends the process with status -1, as every other allocation failure of
 *	wirepaint does.
 */
void *text_zalloc(size_t size);

#endif
