/*
 * webpage.cpp --
 *
 *	The report page of the loaded connection: its data gathered from
 *	what the program already computes (line list, segment texts, -E,
 *	-S, the health table), packed (webpage/page_data.h) and written into
 *	one HTML file with the built-in script and style.
 */

#include "webpage/webpage.h"

#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "analysis/class_name.h"
#include "analysis/events.h"
#include "analysis/line.h"
#include "report/event_list.h"
#include "report/health.h"
#include "report/problems.h"
#include "report/stats.h"
#include "text/detail.h"
#include "text/endpoint_text.h"
#include "text/host_evidence.h"
#include "text/line_text.h"
#include "trace/trace.h"
#include "webpage/assets.h"
#include "webpage/graph_data.h"
#include "webpage/page_data.h"

namespace {

/* Segments of one block of the text stream: a reader decodes one block
 * to show one segment's texts. */
const int32_t TEXT_BLOCK = 1024;

uint32_t float_bits(float f)
{
    uint32_t u;
    std::memcpy(&u, &f, sizeof u);
    return u;
}

/* The byte planes of one column of 32-bit values: all low bytes, then
 * the next ones; deflate finds the runs of each plane. */
void put_planes(byte_stream *s, const std::vector<uint32_t> &v)
{
    for (int k = 0; k < 4; k++) {
        for (uint32_t x : v)
            s->bytes.push_back(static_cast<uint8_t>(x >> (8 * k)));
    }
}

/*
 * The lines: t_send as the difference of its bits from the previous
 * line's, t_recv as the difference of its bits from its own t_send's,
 * delay as the difference from the previous line's; then one byte of
 * dir (high nibble) and class (low nibble). Differences wrap in 32 bits.
 */
std::vector<uint8_t> line_bytes()
{
    int32_t n = g_trace.lines != nullptr ? g_trace.main.count : 0;
    std::vector<uint32_t> send(n), recv(n), delay(n);
    uint32_t prev_send = 0, prev_delay = 0;
    for (int32_t j = 0; j < n; j++) {
        const line_record &l = g_trace.lines[j];
        uint32_t s = float_bits(l.t_send), d = float_bits(l.delay);
        send[j] = s - prev_send;
        recv[j] = float_bits(l.t_recv) - s;
        delay[j] = d - prev_delay;
        prev_send = s;
        prev_delay = d;
    }
    byte_stream out;
    put_planes(&out, send);
    put_planes(&out, recv);
    put_planes(&out, delay);
    for (int32_t j = 0; j < n; j++)
        out.bytes.push_back(static_cast<uint8_t>((g_trace.lines[j].dir << 4) |
                                                 (g_trace.lines[j].cls & 15)));
    return out.bytes;
}

/*
 * Header bytes `p` (`len` of them) against `prev`, the last header of the
 * same direction, which they then become: for each group of eight bytes
 * a mask byte (bit k: byte k of the group differs), then the differing
 * bytes XORed with prev's (0 past its end). Most bytes repeat.
 */
void put_header(byte_stream *out, const uint8_t *p, int32_t len, std::vector<uint8_t> *prev)
{
    for (int32_t g = 0; g < len; g += 8) {
        uint8_t mask = 0;
        uint8_t diff[8];
        int nd = 0;
        for (int32_t k = g; k < len && k < g + 8; k++) {
            uint8_t x = p[k] ^ (static_cast<size_t>(k) < prev->size() ? (*prev)[k] : 0);
            if (x != 0) {
                mask |= static_cast<uint8_t>(1u << (k - g));
                diff[nd++] = x;
            }
        }
        out->bytes.push_back(mask);
        out->bytes.insert(out->bytes.end(), diff, diff + nd);
    }
    prev->assign(p, p + len);
}

/* The texts of a page: one stream, its templates and its block starts. */
struct text_stream {
    page_texts texts;
    byte_stream bytes;
    std::vector<uint32_t> offsets;   /* byte where each block starts */
};

/* A new block of `s`, at segment j. */
void start_block(text_stream *s)
{
    page_texts_restart(&s->texts);
    s->offsets.push_back(static_cast<uint32_t>(s->bytes.bytes.size()));
}

/*
 * Every segment's texts, block by block, in two streams: the labels,
 * which the ladder draws; and the rest, which hover lines and popups
 * show, read only when one is shown: the summary line, the header bytes
 * of the detail dump (count + 1, 0 for a segment without detail text;
 * then put_header against the last header of that direction in the
 * block) and the hover line's events suffix.
 */
void segment_texts(text_stream *labels, text_stream *details)
{
    int32_t n = g_trace.lines != nullptr ? g_trace.main.count : 0;
    std::vector<uint8_t> last[2];
    for (int32_t j = 0; j < n; j++) {
        if (j % TEXT_BLOCK == 0) {
            start_block(labels);
            start_block(details);
            last[0].clear();
            last[1].clear();
        }
        char label[LINE_LABEL_SIZE];
        format_line_label(j, label, sizeof label);
        put_text(&labels->texts, &labels->bytes, label);
        byte_stream &out = details->bytes;
        put_text(&details->texts, &out, segment_detail_text(j, 1));
        const uint8_t *p = nullptr;
        int32_t len = 0;
        if (!segment_header_bytes(j, &p, &len)) {
            put_uvarint(&out, 0);
        } else {
            put_uvarint(&out, static_cast<uint64_t>(len) + 1);
            put_header(&out, p, len, &last[g_trace.lines[j].dir == 1 ? 0 : 1]);
        }
        put_text(&details->texts, &out, hover_events_suffix(j));
    }
}

std::string numbers_json(const std::vector<uint32_t> &v)
{
    std::string out = "[";
    for (size_t i = 0; i < v.size(); i++)
        out += (i ? "," : "") + std::to_string(v[i]);
    return out + "]";
}

std::string captured(int (*write)(FILE *))
{
    char *buf = nullptr;
    size_t size = 0;
    FILE *f = open_memstream(&buf, &size);
    if (f == nullptr)
        return "";
    write(f);
    std::fclose(f);
    std::string text(buf, size);
    std::free(buf);
    return text;
}

/* A number for the JSON record: 9 digits read back as the same float;
 * null (read as 0) for one that is not finite, which JSON cannot hold. */
std::string number_text(double v)
{
    if (!std::isfinite(v))
        return "null";
    char text[40];
    std::snprintf(text, sizeof text, "%.9g", v);
    return text;
}

std::string json_list(const std::vector<std::string> &items)
{
    std::string out = "[";
    for (size_t i = 0; i < items.size(); i++)
        out += (i ? "," : "") + json_string(items[i]);
    return out + "]";
}

/* The lines of -S that describe the connection as a whole, for the header. */
std::vector<std::string> header_facts(const std::string &stats)
{
    static const char *const wanted[] = {"Duration:", "Capture host:", "Copies found:",
                                         "Clock offset:", "Clock fit:", "Clock skew:",
                                         "Offset at start:", "Smallest delay:", "Clock drift:"};
    std::vector<std::string> facts;
    size_t at = 0;
    while (at < stats.size()) {
        size_t end = stats.find('\n', at);
        if (end == std::string::npos)
            end = stats.size();
        std::string line = stats.substr(at, end - at);
        for (const char *w : wanted) {
            if (line.compare(0, std::strlen(w), w) == 0)
                facts.push_back(line);
        }
        at = end + 1;
    }
    return facts;
}

/* The health-table row of the loaded connection, read again from `file`:
 * the -c numbered row, or the row of the connection's ports and start. */
bool loaded_health_row(const std::string &file, int conn_number, std::vector<std::string> *cells)
{
    std::vector<health_row> rows = health_table(file.c_str());
    const conn_key &k = g_trace.key;
    for (size_t i = 0; i < rows.size(); i++) {
        const health_row &r = rows[i];
        bool chosen = conn_number > 0 ? static_cast<size_t>(conn_number) == i + 1
                                      : ((r.conn.ends.port[0] == k.sport &&
                                          r.conn.ends.port[1] == k.dport) ||
                                         (r.conn.ends.port[0] == k.dport &&
                                          r.conn.ends.port[1] == k.sport)) &&
                                            r.conn.first_sec == k.t0_sec &&
                                            r.conn.first_usec == k.t0_usec;
        if (chosen) {
            *cells = health_cells(r, i + 1);
            return true;
        }
    }
    return false;
}

std::string health_json(const std::vector<std::string> &files, int conn_number)
{
    std::vector<std::string> cells;
    /* Standard input or a pipe was read once, by the load: no row for it. */
    struct stat st;
    if (files.empty() || files[0] == "-" || stat(files[0].c_str(), &st) != 0 ||
        !S_ISREG(st.st_mode) || !loaded_health_row(files[0], conn_number, &cells))
        return "null";
    std::vector<std::string> names(health_cell_names, health_cell_names + health_cell_count);
    return "{\"names\":" + json_list(names) + ",\"cells\":" + json_list(cells) + "}";
}

std::string problems_json()
{
    std::string out = "[";
    bool first = true;
    for (const problem_row &p : problem_rows()) {
        out += first ? "" : ",";
        first = false;
        out += "{\"kind\":" + json_string(event_kind_names[p.kind]) +
               ",\"count\":" + std::to_string(p.count) +
               ",\"warning\":" + (p.warning ? "true" : "false") + "}";
    }
    return out + "]";
}

std::string view_json(const webpage_view &v)
{
    return "{\"W\":" + std::to_string(v.main_width) + ",\"H\":" + std::to_string(v.main_height) +
           ",\"OW\":" + std::to_string(v.over_width) + ",\"OH\":" +
           std::to_string(v.over_height) + ",\"start\":" + number_text(v.main_start) +
           ",\"end\":" + number_text(v.main_end) + ",\"scale\":" + number_text(v.main_scale) +
           ",\"scroll\":" + number_text(v.main_scroll) + ",\"unit\":" +
           number_text(v.delay_unit) + "}";
}

std::string legend_json()
{
    std::string out = "[";
    for (int i = 0; i < LEGEND_CLASSES; i++)
        out += (i ? "," : "") + std::string("[") + std::to_string(legend_classes[i]) + "," +
               json_string(class_name(legend_classes[i])) + "]";
    return out + "]";
}

std::string hosts_json()
{
    if (g_trace.lines == nullptr || g_trace.main.count <= 0 || g_trace.main.rec == nullptr)
        return "[\"\",\"\"]";
    const seg_record &r = g_trace.main.rec[0];
    int left_is_source = g_trace.lines[0].dir == 1;
    char left[96], right[96];
    endpoint_text(r, left_is_source, left, sizeof left);
    endpoint_text(r, !left_is_source, right, sizeof right);
    return json_list({left, right});
}

std::string blob_element(const char *id, const std::vector<uint8_t> &raw)
{
    std::vector<uint8_t> packed = deflate_bytes(raw);
    return std::string("<script type=\"application/octet-stream\" id=\"") + id +
           "\" data-size=\"" + std::to_string(raw.size()) + "\">" +
           base64_of(packed.data(), packed.size()) + "</script>\n";
}

std::string base_name(const std::string &path)
{
    size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string html_escape(const std::string &text)
{
    std::string out;
    for (char c : text) {
        switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        default: out += c;
        }
    }
    return out;
}

}  // namespace

std::string page_shell(const std::string &title, const std::string &meta,
                       const std::string &blobs)
{
    std::string csp = std::string("default-src 'none'; script-src '") + webpage_script_hash +
                      "'; style-src '" + webpage_style_hash +
                      "'; img-src data:; base-uri 'none'; form-action 'none'";
    return "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
           "<meta http-equiv=\"Content-Security-Policy\" content=\"" + csp + "\">\n"
           "<meta name=\"viewport\" content=\"width=device-width\">\n"
           "<link rel=\"icon\" href=\"data:,\">\n"
           "<title>" + html_escape(title) + "</title>\n<style>" + webpage_style +
           "</style>\n</head>\n<body>\n<noscript>This report needs a browser with "
           "JavaScript.</noscript>\n"
           "<script type=\"application/json\" id=\"meta\">" + meta + "</script>\n" + blobs +
           "<script>" + webpage_script + "</script>\n</body>\n</html>\n";
}

std::string connection_page(const std::vector<std::string> &files, const webpage_view &view,
                            int conn_number)
{
    text_stream labels, details;
    segment_texts(&labels, &details);
    std::string stats = statistics_text();
    std::vector<std::string> names;
    for (const std::string &f : files)
        names.push_back(base_name(f));
    std::vector<std::string> colours;
    for (int c = 0; c < 7; c++)
        colours.push_back(color_table[c]);
    int32_t count = g_trace.lines != nullptr ? g_trace.main.count : 0;
    std::string graphs_meta;
    std::vector<uint8_t> graphs_raw;
    graph_page_data(&graphs_meta, &graphs_raw);

    std::string meta = "{\"kind\":\"connection\",\"files\":" + json_list(names) +
                       ",\"hosts\":" + hosts_json() + ",\"count\":" + std::to_string(count) +
                       ",\"view\":" + view_json(view) + ",\"colors\":" + json_list(colours) +
                       ",\"legend\":" + legend_json() +
                       ",\"facts\":" + json_list(header_facts(stats)) +
                       ",\"health\":" + health_json(files, conn_number) +
                       ",\"problems\":" + problems_json() + ",\"stats\":" + json_string(stats) +
                       ",\"textBlock\":" + std::to_string(TEXT_BLOCK) +
                       ",\"labelTemplates\":" + json_list(labels.texts.shapes) +
                       ",\"labelOffsets\":" + numbers_json(labels.offsets) +
                       ",\"templates\":" + json_list(details.texts.shapes) +
                       ",\"textOffsets\":" + numbers_json(details.offsets) +
                       ",\"graphs\":" + graphs_meta + "}";
    std::string blobs = blob_element("lines", line_bytes()) +
                        blob_element("labels", labels.bytes.bytes) +
                        blob_element("texts", details.bytes.bytes);
    std::string events = captured(write_event_list);
    blobs += blob_element("events", std::vector<uint8_t>(events.begin(), events.end()));
    blobs += blob_element("graphs", graphs_raw);
    std::string title = "wirepaint: " + (names.empty() ? std::string("report") : names[0]);
    return page_shell(title, meta, blobs);
}

int write_text_file(const std::string &path, const std::string &text, std::string *error)
{
    FILE *f = std::fopen(path.c_str(), "wb");
    if (f == nullptr) {
        *error = "cannot write " + path + ": " + std::strerror(errno);
        return 0;
    }
    bool ok = std::fwrite(text.data(), 1, text.size(), f) == text.size();
    ok = (std::fclose(f) == 0) && ok;
    if (!ok)
        *error = "cannot write " + path;
    return ok ? 1 : 0;
}

bool is_webpage_name(const std::string &path)
{
    size_t dot = path.find_last_of('.');
    if (dot == std::string::npos)
        return false;
    std::string ext = path.substr(dot + 1);
    for (char &c : ext)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return ext == "html" || ext == "htm";
}
