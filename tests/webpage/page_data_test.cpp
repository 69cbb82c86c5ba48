/*
 * page_data_test.cpp --
 *
 *	The report page's data forms: numbers, templates, deflate and base64
 *	read back as the page's script reads them, and a whole page of each
 *	bundled capture whose segment texts, read back from its blobs, are
 *	the program's own.
 */

#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "analysis/line.h"
#include "report/problems.h"
#include "support/load_files.h"
#include "text/detail.h"
#include "text/line_text.h"
#include "text/text_out.h"
#include "text/text_state.h"
#include "trace/trace.h"
#include "webpage/page_data.h"
#include "webpage/webpage.h"

namespace {

/* The reader of page.js, in C++. */
struct reader {
    const std::vector<uint8_t> &b;
    size_t at;
    uint64_t u()
    {
        uint64_t v = 0;
        int shift = 0;
        uint8_t byte;
        do {
            byte = b.at(at++);
            v |= static_cast<uint64_t>(byte & 0x7f) << shift;
            shift += 7;
        } while (byte & 0x80);
        return v;
    }
    int64_t s()
    {
        uint64_t z = u();
        return static_cast<int64_t>(z >> 1) ^ -static_cast<int64_t>(z & 1);
    }
};

std::vector<uint8_t> base64_decode(const std::string &text)
{
    std::string digits = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::vector<uint8_t> out;
    uint32_t v = 0;
    int bits = 0;
    for (char c : text) {
        if (c == '=')
            break;
        v = (v << 6) | static_cast<uint32_t>(digits.find(c));
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            out.push_back(static_cast<uint8_t>(v >> bits));
        }
    }
    return out;
}

std::vector<uint8_t> inflate_bytes(const std::vector<uint8_t> &in, size_t size)
{
    std::vector<uint8_t> out(size + 1);
    uLongf n = static_cast<uLongf>(out.size());
    EXPECT_EQ(uncompress(out.data(), &n, in.data(), static_cast<uLong>(in.size())), Z_OK);
    out.resize(n);
    return out;
}

/* The bytes of blob `id` of a page, inflated. */
std::vector<uint8_t> page_blob(const std::string &page, const std::string &id)
{
    std::string open = "id=\"" + id + "\" data-size=\"";
    size_t at = page.find(open);
    EXPECT_NE(at, std::string::npos) << id;
    size_t size = std::stoul(page.substr(at + open.size()));
    size_t body = page.find('>', at) + 1;
    size_t end = page.find("</script>", body);
    return inflate_bytes(base64_decode(page.substr(body, end - body)), size);
}

/* The JSON list of strings after "key": of the page's record. */
std::vector<std::string> json_strings(const std::string &page, const std::string &key)
{
    size_t at = page.find("\"" + key + "\":[") + key.size() + 4;
    std::vector<std::string> out;
    while (page[at] == '"') {
        std::string s;
        for (at++; page[at] != '"'; at++) {
            if (page[at] != '\\') {
                s += page[at];
                continue;
            }
            char e = page[++at];
            if (e == 'n')
                s += '\n';
            else if (e == 't')
                s += '\t';
            else if (e == 'u')
                s += static_cast<char>(std::stoi(page.substr(at + 1, 4), nullptr, 16)), at += 4;
            else
                s += e;
        }
        out.push_back(s);
        at++;
        if (page[at] == ',')
            at++;
    }
    return out;
}

std::string read_text(reader *r, const std::vector<std::string> &shapes,
                      std::map<uint64_t, std::vector<int64_t>> *last)
{
    uint64_t id = r->u();
    const std::string &shape = shapes.at(id);
    size_t slots = shape[0] == '\x02' ? 0
                                       : std::count(shape.begin(), shape.end(), '\x01') +
                                             std::count(shape.begin(), shape.end(), '\x03');
    std::vector<int64_t> &v = (*last)[id];
    v.resize(slots);
    for (size_t k = 0; k < slots; k++)
        v[k] += r->s();
    return page_template_text(shape, v);
}

}  // namespace

TEST(PageData, NumbersReadBackAsWritten)
{
    const uint64_t unsigned_cases[] = {0, 1, 127, 128, 300, 16383, 16384, 0xffffffffu,
                                       (uint64_t{1} << 53) - 1, ~uint64_t{0}};
    const int64_t signed_cases[] = {0, -1, 1, -64, 63, 64, -65, INT32_MIN, INT32_MAX,
                                    -(int64_t{1} << 52), INT64_MIN, INT64_MAX};
    byte_stream s;
    for (uint64_t v : unsigned_cases)
        put_uvarint(&s, v);
    for (int64_t v : signed_cases)
        put_svarint(&s, v);
    put_u32(&s, 0x01020304u);
    reader r{s.bytes, 0};
    for (uint64_t v : unsigned_cases)
        EXPECT_EQ(r.u(), v);
    for (int64_t v : signed_cases)
        EXPECT_EQ(r.s(), v);
    EXPECT_EQ(std::vector<uint8_t>(s.bytes.end() - 4, s.bytes.end()),
              (std::vector<uint8_t>{4, 3, 2, 1}));
    EXPECT_EQ(s.bytes[0], 0);
    EXPECT_EQ(r.at, s.bytes.size() - 4);
}

TEST(PageData, TemplatesSplitTextsAndGiveThemBack)
{
    const struct {
        const char *text, *shape;
        std::vector<int64_t> numbers;
    } rows[] = {
        {"ack 1449 win 502", "ack \x01 win \x01", {1449, 502}},
        {"0x0000:  4500 0034", "0x\x03:  \x01 0034", {0, 4500}},  /* "0034" kept */
        {"00 0000 a0x0000b", "00 0000 a\x01x0000b", {0}},
        {"0:0(0)", "\x01:\x01(\x01)", {0, 0, 0}},
        {"1234567890123456 x", "1234567890123456 x", {}},          /* 16 digits: text */
        {"123456789012345", "\x01", {123456789012345}},
        {"-0.250000", "-\x01.\x01", {0, 250000}},
        {"-0.050000", "-\x01.050000", {0}},
        {"", "", {}},
        {"odd \x01 char 7", "\x02odd \x01 char 7", {}},
        {"odd \x02 char", "\x02odd \x02 char", {}},
        {"odd \x03 char", "\x02odd \x03 char", {}},
        {"cksum 0x0e0c (correct)", "cksum 0x\x03 (correct)", {0x0e0c}},
        {"0x00ff,0xabcd", "0x\x03,0x\x03", {0xff, 0xabcd}},
        {"0x0E0C 0x12345 0x123", "\x01x\x01" "E\x01" "C \x01x\x01 \x01x\x01",
         {0, 0, 0, 0, 12345, 0, 123}},
    };
    for (const auto &row : rows) {
        page_template t = page_template_of(row.text);
        EXPECT_EQ(t.shape, row.shape) << row.text;
        EXPECT_EQ(t.numbers, row.numbers) << row.text;
        EXPECT_EQ(page_template_text(t.shape, t.numbers), row.text);
    }
}

TEST(PageData, TextsAreWrittenAsDifferencesPerSlotUntilARestart)
{
    page_texts t;
    byte_stream s;
    put_text(&t, &s, "seq 1000 len 10");
    put_text(&t, &s, "seq 1010 len 10");
    put_text(&t, &s, "other 5");
    page_texts_restart(&t);
    put_text(&t, &s, "seq 2000 len 9");
    ASSERT_EQ(t.shapes.size(), 2u);
    reader r{s.bytes, 0};
    EXPECT_EQ(r.u(), 0u);
    EXPECT_EQ(r.s(), 1000);
    EXPECT_EQ(r.s(), 10);
    EXPECT_EQ(r.u(), 0u);
    EXPECT_EQ(r.s(), 10);
    EXPECT_EQ(r.s(), 0);
    EXPECT_EQ(r.u(), 1u);
    EXPECT_EQ(r.s(), 5);
    EXPECT_EQ(r.u(), 0u);
    EXPECT_EQ(r.s(), 2000);
    EXPECT_EQ(r.s(), 9);
    EXPECT_EQ(r.at, s.bytes.size());
}

TEST(PageData, DeflateBase64AndJsonReadBack)
{
    std::vector<uint8_t> raw;
    for (int i = 0; i < 100000; i++)
        raw.push_back(static_cast<uint8_t>((i * 7) % 13));
    std::vector<uint8_t> packed = deflate_bytes(raw);
    EXPECT_LT(packed.size(), raw.size() / 20);
    EXPECT_EQ(inflate_bytes(packed, raw.size()), raw);
    EXPECT_EQ(inflate_bytes(deflate_bytes({}), 0), std::vector<uint8_t>{});

    const std::pair<const char *, const char *> vectors[] = {
        {"", ""}, {"f", "Zg=="}, {"fo", "Zm8="}, {"foo", "Zm9v"}, {"foob", "Zm9vYg=="},
        {"fooba", "Zm9vYmE="}, {"foobar", "Zm9vYmFy"}, {"\xff\xfe\x00", "//4A"}};
    for (const auto &v : vectors) {
        size_t n = v.first[0] == '\xff' ? 3 : std::strlen(v.first);
        EXPECT_EQ(base64_of(reinterpret_cast<const uint8_t *>(v.first), n), v.second);
    }
    EXPECT_EQ(base64_decode(base64_of(packed.data(), packed.size())), packed);

    EXPECT_EQ(json_string("a\"b\\c\nd\te\x01</script><!--/x"),
              "\"a\\\"b\\\\c\\nd\\te\\u0001\\u003c/script>\\u003c!--/x\"");
    EXPECT_TRUE(is_webpage_name("r.html"));
    EXPECT_TRUE(is_webpage_name("dir.x/R.HTM"));
    EXPECT_FALSE(is_webpage_name("r.svg"));
    EXPECT_FALSE(is_webpage_name("html"));
}

/* A page of each capture: its policy, and every segment's texts read back
 * from its blobs as the page's script reads them. */
TEST(PageData, PagesCarryTheProgramsTextsOfEverySegment)
{
    const std::vector<std::vector<std::string>> captures = {
        {"sender.pcap"}, {"sender.pcap", "receiver.pcap"}, {"loopback-any-sll.pcap"},
        {"midstream-many.pcap"}, {"offload-receiver.pcap"}, {"slow-client.pcap"}};
    for (const auto &files : captures) {
        std::vector<std::string> paths;
        for (const std::string &f : files)
            paths.push_back(std::string(WIREPAINT_SOURCE_DIR) + "/examples/" + f);
        load_files(paths);
        webpage_view v = {800, 800, 200, 800, -0.1f, 0.1f, 4000.0f, 0.5f, 0.01f};
        std::string page = connection_page(paths, v, 0);
        SCOPED_TRACE(files[0]);
        EXPECT_NE(page.find("content=\"default-src 'none'; script-src 'sha256-"),
                  std::string::npos);
        EXPECT_EQ(page.find("http:"), std::string::npos);
        EXPECT_EQ(page.find("https:"), std::string::npos);
        EXPECT_EQ(page.find(" src="), std::string::npos);

        std::vector<std::string> shapes = json_strings(page, "templates");
        std::vector<std::string> label_shapes = json_strings(page, "labelTemplates");
        std::vector<uint8_t> texts = page_blob(page, "texts");
        std::vector<uint8_t> labels = page_blob(page, "labels");
        std::vector<uint8_t> lines = page_blob(page, "lines");
        int32_t n = g_trace.main.count;
        ASSERT_EQ(lines.size(), static_cast<size_t>(n) * 13);
        reader r{texts, 0}, rl{labels, 0};
        std::map<uint64_t, std::vector<int64_t>> last, last_label;
        std::vector<uint8_t> prev[2];
        for (int32_t j = 0; j < n; j++) {
            if (j % 1024 == 0) {
                last.clear();
                last_label.clear();
                prev[0].clear();
                prev[1].clear();
            }
            std::string label = read_text(&rl, label_shapes, &last_label);
            std::string summary = read_text(&r, shapes, &last);
            uint64_t count = r.u();
            std::string detail;
            if (count > 0) {
                std::vector<uint8_t> &p = prev[g_trace.lines[j].dir == 1 ? 0 : 1];
                std::vector<uint8_t> h(count - 1);
                for (size_t g = 0; g < h.size(); g += 8) {
                    uint8_t mask = texts.at(r.at++);
                    for (size_t k = g; k < h.size() && k < g + 8; k++) {
                        uint8_t was = k < p.size() ? p[k] : 0;
                        h[k] = (mask >> (k - g)) & 1 ? texts.at(r.at++) ^ was : was;
                    }
                }
                p = h;
                g_text.detail[0] = 0;
                text_out o = text_out_at_end(g_text.detail, DETAIL_TEXT_SIZE);
                append_header_dump(h.data(), static_cast<int32_t>(h.size()), &o);
                detail = summary + "\n" + g_text.detail;
            }
            std::string suffix = read_text(&r, shapes, &last);
            ASSERT_EQ(detail, segment_detail_text(j, 0)) << j;
            char want[LINE_LABEL_SIZE];
            format_line_label(j, want, sizeof want);
            ASSERT_EQ(label, want) << j;
            ASSERT_EQ("Segment " + std::to_string(j + 1) + ": " + summary + suffix,
                      segment_hover_text(j))
                << j;
            /* The class and direction byte of the line. */
            uint8_t dc = lines[static_cast<size_t>(n) * 12 + j];
            ASSERT_EQ(dc >> 4, g_trace.lines[j].dir);
            ASSERT_EQ(dc & 15, g_trace.lines[j].cls);
        }
        EXPECT_EQ(rl.at, labels.size());
        EXPECT_EQ(r.at, texts.size());
    }
}
