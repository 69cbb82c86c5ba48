/*
 * names.h --
 *
 *	The name caches: the texts of IPv4 addresses, IPv6 addresses and
 *	ports that the segment summary shows, each made once per distinct key
 *	and kept for the whole run in the 4096-bucket tables of g_text. Every
 *	text is numeric; no host or service name is ever looked up.
 */

#ifndef WIREPAINT_TEXT_NAMES_H
#define WIREPAINT_TEXT_NAMES_H

#include <cstdint>

/*
 * ipv4_host_text --
 *	The dotted-quad text of the IPv4 address `a` (4 bytes, network order),
 *	from the IPv4 host cache. The text stays valid and unchanged for the
 *	rest of the run (until text_state_clear); the same address always
 *	gives the same pointer. A new address adds an entry at the end of its
 *	bucket's chain, taking one slot from the shared entry pool.
 */
const char *ipv4_host_text(const uint8_t *a);

/*
 * ipv6_host_text --
 *	The inet_ntop text of the IPv6 address `a` (16 bytes as carried),
 *	from the IPv6 host cache; lifetime and growth as ipv4_host_text, with
 *	the IPv6 entry pool.
 */
const char *ipv6_host_text(const uint8_t *a);

/*
 * tcp_port_text --
 *	The decimal text of `port` (host order), from the port cache, which
 *	shares the entry pool with the IPv4 host cache.
 */
const char *tcp_port_text(uint16_t port);

/*
 * dotted_quad_text --
 *	The dotted-quad text of the IPv4 address `a` (network order), built
 *	from the last byte backwards in g_text.quad and overwritten by the
 *	next call. No leading zeros: "10.0.0.1", "0.0.0.0".
 */
const char *dotted_quad_text(const uint8_t *a);

#endif
