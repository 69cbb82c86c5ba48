/*
 * bytes.h --
 *
 *	Byte-order readers for packet bytes. Packets are parsed field by field
 *	through these, never by laying a struct over the bytes; the caller
 *	makes sure the bytes read lie inside what was captured.
 */

#ifndef WIREPAINT_CAPTURE_BYTES_H
#define WIREPAINT_CAPTURE_BYTES_H

#include <cstdint>

/* The 16-bit big-endian (network order) number at p[0..1]. */
inline uint16_t read_be16(const uint8_t *p)
{
    return (uint16_t)((p[0] << 8) | p[1]);
}

/* The 32-bit big-endian number at p[0..3]. */
inline uint32_t read_be32(const uint8_t *p)
{
    return ((uint32_t)p[0] << 24) | ((uint32_t)p[1] << 16) | ((uint32_t)p[2] << 8) | p[3];
}

/* The 16-bit little-endian number at p[0..1] (capture file headers
 * written on such a machine). */
inline uint16_t read_le16(const uint8_t *p)
{
    return (uint16_t)((p[1] << 8) | p[0]);
}

/* The 32-bit little-endian number at p[0..3]. */
inline uint32_t read_le32(const uint8_t *p)
{
    return ((uint32_t)p[3] << 24) | ((uint32_t)p[2] << 16) | ((uint32_t)p[1] << 8) | p[0];
}

#endif
