/*
 * page_data.cpp --
 *
 *	Numbers, texts and blobs in the forms the report page reads.
 */

#include "webpage/page_data.h"

#include <zlib.h>

#include <algorithm>
#include <cstdio>

void put_uvarint(byte_stream *s, uint64_t v)
{
    while (v >= 0x80) {
        s->bytes.push_back(static_cast<uint8_t>(v | 0x80));
        v >>= 7;
    }
    s->bytes.push_back(static_cast<uint8_t>(v));
}

void put_svarint(byte_stream *s, int64_t v)
{
    uint64_t u = static_cast<uint64_t>(v);
    put_uvarint(s, (u << 1) ^ (v < 0 ? ~uint64_t{0} : 0));
}

void put_u32(byte_stream *s, uint32_t v)
{
    for (int i = 0; i < 4; i++)
        s->bytes.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

namespace {

const char SLOT = '\x01';
const char WHOLE = '\x02';
const char HEX4 = '\x03';
const size_t MAX_DIGITS = 15;   /* below 2^53: exact as a script's number */

bool is_digit(char c)
{
    return c >= '0' && c <= '9';
}

bool is_hex_digit(char c)
{
    return is_digit(c) || (c >= 'a' && c <= 'f');
}

/* "0x" and exactly four lowercase hex digits at `i` of `text`. */
bool is_hex4_at(const std::string &text, size_t i)
{
    if (text.compare(i, 2, "0x") != 0 || i + 6 > text.size())
        return false;
    for (size_t k = i + 2; k < i + 6; k++) {
        if (!is_hex_digit(text[k]))
            return false;
    }
    return i + 6 == text.size() || !is_hex_digit(text[i + 6]);
}

}  // namespace

page_template page_template_of(const std::string &text)
{
    page_template t;
    if (text.find_first_of(std::string{SLOT, WHOLE, HEX4}) != std::string::npos) {
        t.shape = std::string(1, WHOLE) + text;
        return t;
    }
    t.shape.reserve(text.size());
    size_t i = 0;
    while (i < text.size()) {
        if (is_hex4_at(text, i)) {
            t.shape += "0x";
            t.shape += HEX4;
            t.numbers.push_back(std::stoll(text.substr(i + 2, 4), nullptr, 16));
            i += 6;
            continue;
        }
        if (!is_digit(text[i])) {
            t.shape += text[i++];
            continue;
        }
        size_t j = i;
        while (j < text.size() && is_digit(text[j]))
            j++;
        size_t len = j - i;
        bool number = len <= MAX_DIGITS && (text[i] != '0' || len == 1);
        if (number) {
            t.shape += SLOT;
            t.numbers.push_back(std::stoll(text.substr(i, len)));
        } else {
            t.shape.append(text, i, len);
        }
        i = j;
    }
    return t;
}

std::string page_template_text(const std::string &shape, const std::vector<int64_t> &numbers)
{
    if (!shape.empty() && shape[0] == WHOLE)
        return shape.substr(1);
    std::string out;
    size_t k = 0;
    for (char c : shape) {
        if (c == SLOT && k < numbers.size()) {
            out += std::to_string(numbers[k++]);
        } else if (c == HEX4 && k < numbers.size()) {
            char hex[8];
            std::snprintf(hex, sizeof hex, "%04llx", static_cast<unsigned long long>(numbers[k++]));
            out += hex;
        } else {
            out += c;
        }
    }
    return out;
}

void page_texts_restart(page_texts *t)
{
    for (std::vector<int64_t> &v : t->last)
        std::fill(v.begin(), v.end(), 0);
}

void put_text(page_texts *t, byte_stream *s, const std::string &text)
{
    page_template pt = page_template_of(text);
    auto found = t->ids.find(pt.shape);
    uint32_t id;
    if (found == t->ids.end()) {
        id = static_cast<uint32_t>(t->shapes.size());
        t->ids.emplace(pt.shape, id);
        t->shapes.push_back(pt.shape);
        t->last.emplace_back(pt.numbers.size(), 0);
    } else {
        id = found->second;
    }
    put_uvarint(s, id);
    std::vector<int64_t> &last = t->last[id];
    for (size_t k = 0; k < pt.numbers.size(); k++) {
        put_svarint(s, pt.numbers[k] - last[k]);
        last[k] = pt.numbers[k];
    }
}

std::vector<uint8_t> deflate_bytes(const std::vector<uint8_t> &in)
{
    uLongf size = compressBound(static_cast<uLong>(in.size()));
    std::vector<uint8_t> out(size);
    if (compress2(out.data(), &size, in.data(), static_cast<uLong>(in.size()), 9) != Z_OK)
        return {};
    out.resize(size);
    return out;
}

std::string base64_of(const uint8_t *p, size_t n)
{
    static const char digits[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    out.reserve((n + 2) / 3 * 4);
    size_t i = 0;
    for (; i + 3 <= n; i += 3) {
        uint32_t v = (uint32_t{p[i]} << 16) | (uint32_t{p[i + 1]} << 8) | p[i + 2];
        for (int k = 3; k >= 0; k--)
            out += digits[(v >> (6 * k)) & 63];
    }
    size_t rest = n - i;
    if (rest == 0)
        return out;
    uint32_t v = uint32_t{p[i]} << 16;
    if (rest == 2)
        v |= uint32_t{p[i + 1]} << 8;
    out += digits[(v >> 18) & 63];
    out += digits[(v >> 12) & 63];
    out += rest == 2 ? digits[(v >> 6) & 63] : '=';
    out += '=';
    return out;
}

std::string json_string(const std::string &text)
{
    std::string out = "\"";
    for (size_t i = 0; i < text.size(); i++) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        switch (c) {
        case '"':
            out += "\\\"";
            break;
        case '\\':
            out += "\\\\";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\t':
            out += "\\t";
            break;
        case '<':
            out += "\\u003c";   /* no "</script" nor "<!--" in a script element */
            break;
        default:
            if (c < 0x20) {
                char esc[8];
                std::snprintf(esc, sizeof esc, "\\u%04x", c);
                out += esc;
            } else {
                out += static_cast<char>(c);
            }
        }
    }
    return out + "\"";
}
