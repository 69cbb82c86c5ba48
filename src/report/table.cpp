/*
 * table.cpp --
 *
 *	The CSV rows of the per-segment table.
 */

#include "report/table.h"

#include <cstdio>
#include <string>

#include "analysis/class_name.h"
#include "analysis/events.h"
#include "analysis/line.h"
#include "load/loader.h"
#include "text/summary.h"
#include "text/text_out.h"
#include "trace/flow.h"
#include "trace/trace.h"

namespace {

const char *const columns[] = {"index",   "direction", "class",   "send_time",
                               "arrival_time", "delay", "seq",     "ack",
                               "payload", "window",    "flags",   "acked_by",
                               "ack_time", "response_time"};

/* A float with the digits that give back the same float. */
std::string float_text(float v)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.9g", static_cast<double>(v));
    return text;
}

/* A time sample, or "" for the analysis's "none" (a negative value). */
std::string sample_text(float v)
{
    return v >= 0.0f ? float_text(v) : std::string();
}

/* The flag letters of the summary line, one blank between two. */
std::string flags_text(uint8_t flags)
{
    char buf[32] = "";
    text_out o = text_out_at_end(buf, sizeof buf);
    append_flag_letters(flags, &o);
    std::string out;
    for (const char *p = buf; *p != '\0'; p++) {
        if (*p == ' ')
            continue;
        if (!out.empty())
            out += ' ';
        out += *p;
    }
    return out;
}

void add(std::string *row, const std::string &cell)
{
    if (!row->empty())
        *row += ',';
    *row += csv_field(cell);
}

}  // namespace

std::string csv_field(const std::string &value)
{
    if (value.find_first_of(",\"\r\n") == std::string::npos)
        return value;
    std::string out = "\"";
    for (char c : value) {
        if (c == '"')
            out += '"';
        out += c;
    }
    out += '"';
    return out;
}

std::string table_header(int two_files)
{
    std::string row;
    for (const char *c : columns)
        add(&row, c);
    if (two_files)
        add(&row, "far_end");
    add(&row, "events");
    return row;
}

std::string table_row(int line, int two_files)
{
    const seg_record &r = g_trace.main.rec[line];
    const line_record &l = g_trace.lines[line];
    std::string row;
    add(&row, std::to_string(line + 1));
    add(&row, l.dir == 1 ? "L>R" : "R>L");
    add(&row, class_name(l.cls));
    add(&row, float_text(l.t_send));
    add(&row, float_text(l.t_recv));
    add(&row, float_text(l.delay));
    add(&row, std::to_string(seq_of(r)));
    add(&row, (r.tcp_flags & TH_ACK) ? std::to_string(ack_of(r)) : std::string());
    add(&row, std::to_string(r.paylen));
    add(&row, std::to_string(r.win));
    add(&row, flags_text(r.tcp_flags));
    add(&row, r.acked_by != 0 ? std::to_string(r.acked_by + 1) : std::string());
    add(&row, sample_text(r.ack_time));
    add(&row, sample_text(r.resp_time));
    if (two_files)
        add(&row, loader_copy_of(line) >= 0 ? "measured" : "estimated");
    seg_events e;
    add(&row, events_at(line, &e) ? events_kinds_text(e.kinds, ';') : std::string());
    return row;
}

int write_table(FILE *out)
{
    int two_files = g_trace.peer.count > 0;
    std::fprintf(out, "%s\r\n", table_header(two_files).c_str());
    int count = g_trace.lines != nullptr ? g_trace.main.count : 0;
    for (int j = 0; j < count; j++)
        std::fprintf(out, "%s\r\n", table_row(j, two_files).c_str());
    return std::fflush(out) == 0 && !std::ferror(out);
}
