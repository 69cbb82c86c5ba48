/*
 * page_data.h --
 *
 *	The compact forms in which a report page carries its data: a byte
 *	stream of unsigned LEB128 numbers (zigzag for signed ones), texts cut
 *	into a template and the decimal numbers in it, zlib's deflate and
 *	base64. The page's script (script/webpage/page.js) reads each form
 *	back; what one writes here the other must read the same way.
 *
 *	Texts: every run of decimal digits of 1 to 15 digits that does not
 *	start with a 0 (a lone "0" does) becomes a number, and the text
 *	around the numbers, with U+0001 where each number stood, becomes the
 *	template. So "ack 1449 win 502" is the template "ack \1 win \1" and
 *	the numbers 1449 and 502. "0x" and exactly four lowercase hex
 *	digits (a checksum) become "0x", U+0003 and the number. A text that
 *	holds U+0001, U+0002 or U+0003 itself is stored whole: its template
 *	is U+0002 and the text, with no numbers.
 */

#ifndef WIREPAINT_WEBPAGE_PAGE_DATA_H
#define WIREPAINT_WEBPAGE_PAGE_DATA_H

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

/* A growing byte stream. */
struct byte_stream {
    std::vector<uint8_t> bytes;
};

/* Appends `v` as unsigned LEB128: seven bits a byte, low first. */
void put_uvarint(byte_stream *s, uint64_t v);

/* Appends `v` zigzagged (0, -1, 1, -2 ... as 0, 1, 2, 3 ...) as LEB128. */
void put_svarint(byte_stream *s, int64_t v);

/* Appends `v` as four bytes, little-endian. */
void put_u32(byte_stream *s, uint32_t v);

/* A text split into its template and numbers (see above). */
struct page_template {
    std::string shape;            /* the text with U+0001 for each number */
    std::vector<int64_t> numbers; /* in order of appearance */
};

/*
 * page_template_of --
 *	Splits `text` into template and numbers; a text holding U+0001,
 *	U+0002 or U+0003 comes back whole, its shape U+0002 and the text.
 */
page_template page_template_of(const std::string &text);

/*
 * page_template_text --
 *	The text a template and numbers stand for: the inverse of
 *	page_template_of (the reader's rule, for tests).
 */
std::string page_template_text(const std::string &shape, const std::vector<int64_t> &numbers);

/*
 * The templates of one page, each stored once and numbered in the order
 * first met, and the numbers last written for each slot of each template
 * (the next number of a slot is written as its difference from the
 * last). The last values start at 0 and page_texts_restart brings them
 * back there, at the start of each block of segments.
 */
struct page_texts {
    std::vector<std::string> shapes;                 /* by template number */
    std::unordered_map<std::string, uint32_t> ids;   /* shape -> number */
    std::vector<std::vector<int64_t>> last;          /* by template number */
};

/* page_texts_restart -- Every slot's last value back to 0. */
void page_texts_restart(page_texts *t);

/*
 * put_text --
 *	Appends `text` to `s`: its template number, then each number as the
 *	zigzagged difference from that slot's last value, which it becomes.
 */
void put_text(page_texts *t, byte_stream *s, const std::string &text);

/*
 * deflate_bytes --
 *	`in` through zlib's compress2 at level 9 (the zlib format, which the
 *	browser's DecompressionStream("deflate") reads). Empty on failure.
 */
std::vector<uint8_t> deflate_bytes(const std::vector<uint8_t> &in);

/* base64 (RFC 4648, with padding) of `n` bytes at `p`. */
std::string base64_of(const uint8_t *p, size_t n);

/* `text` as a JSON string literal, quotes included; "<" written "\u003c"
 * so that the literal may sit inside an HTML script element. */
std::string json_string(const std::string &text);

#endif
