/*
 * overview_lines.cpp --
 *
 *	Publication of the overview lines, leaving out the lines that a later
 *	identical line of the same publication covers. The window's lines are
 *	walked from the last to the first; a line is kept when its values are
 *	not yet in the set of lines seen, so of each group of identical lines
 *	the last one is kept. The kept lines are then published first to last.
 *	With the overview index built for the line list, only its candidates
 *	are walked (see overview_index.h): the same kept lines, without
 *	computing the pixels of each line of the window.
 */

#include "ui/overview_lines.h"

#include <cstring>
#include <limits>

#include "analysis/line.h"
#include "trace/trace.h"
#include "ui/line_index.h"
#include "ui/overview_image.h"
#include "ui/overview_index.h"
#include "ui/publish.h"
#include "ui/ui_state.h"

overview_scratch g_overview_scratch;

static const int32_t COLOR_OUTSIDE = OVERVIEW_COLOR_OUTSIDE;

/* The first slot of the color table whose text is that of class `cls`. */
static int32_t color_id(int cls)
{
    if (cls < 0 || cls >= COLOR_OUTSIDE)
        return COLOR_OUTSIDE;
    for (int k = 0; k < cls; k++) {
        if (std::strcmp(color_table[k], color_table[cls]) == 0)
            return k;
    }
    return cls;
}

static overview_geometry current_geometry()
{
    overview_geometry g;
    g.xl = static_cast<int>(g_ui.over_width * 0.15 + 1);
    g.xr = static_cast<int>(g_ui.over_width * 0.85 - 1);
    g.mx = static_cast<int>(g_ui.over_width * 0.5);
    g.start = g_ui.over_start;
    g.scale = g_ui.over_scale;
    for (int k = 0; k < COLOR_OUTSIDE; k++)
        g.color[k] = color_id(k);
    return g;
}

overview_line overview_line_of(const overview_geometry &g, float t_send, float delay, int dir,
                               int cls)
{
    bool lost = cls == CLS_LOST;
    overview_rows r = overview_rows_of(g, t_send, delay, lost);
    int32_t color = cls < COLOR_OUTSIDE ? g.color[cls] : COLOR_OUTSIDE;
    overview_line e = {line_ends_of(dir, g.xl, g.xr, r.send, r.other), color};
    if (lost)
        move_receiver_end(&e.ends, dir, g.mx, r.other);
    return e;
}

static overview_line line_of(const overview_geometry &g, const line_record &l)
{
    return overview_line_of(g, l.t_send, l.delay, l.dir, l.cls);
}

/* The published text of a colour id. */
static const char *color_text(int32_t id)
{
    return id < COLOR_OUTSIDE ? color_table[id] : color_name(-1);
}

static void publish_one(int n, const overview_line &e)
{
    ui_set_elem_int("subx1", n, e.ends.x1);
    ui_set_elem_int("suby1", n, e.ends.y1);
    ui_set_elem_int("subx2", n, e.ends.x2);
    ui_set_elem_int("suby2", n, e.ends.y2);
    ui_set_elem("subcolor", n, color_text(e.color));
}

/*
 * The kept lines, into the overview image when it takes them, else one by
 * one. A picture has no use for the image's name.
 */
static void publish_kept(std::vector<overview_line> &values)
{
    int n = static_cast<int>(values.size());
    if (overview_image_takes(values.data(), values.size())) {
        overview_image_fill(values);
        ui_set_var("subimage", g_overview_image.name.c_str());
        ui_set_var_int("sublinecnt", n);
        return;
    }
    for (int k = 0; k < n; k++)
        publish_one(k, values[k]);
    ui_set_var_int("sublinecnt", n);
    if (g_ui.picture == nullptr)
        ui_set_var("subimage", "");
}

void publish_overview_lines_literal()
{
    std::vector<int32_t> visible;
    window_lines_literal(g_trace.lines, g_trace.main.count, g_ui.over_start, g_ui.over_end,
                         std::numeric_limits<int32_t>::max(), visible);
    overview_geometry g = current_geometry();
    int n = 0;
    for (int32_t j : visible)
        publish_one(n++, line_of(g, g_trace.lines[j]));
    ui_set_var_int("sublinecnt", n);
    if (g_ui.picture == nullptr)
        ui_set_var("subimage", "");
}

bool same_overview_line(const overview_line &a, const overview_line &b)
{
    return a.ends.x1 == b.ends.x1 && a.ends.y1 == b.ends.y1 && a.ends.x2 == b.ends.x2 &&
           a.ends.y2 == b.ends.y2 && a.color == b.color;
}

static uint32_t line_hash(const overview_line &e)
{
    /* Independent products, so that they run side by side. */
    uint64_t h = static_cast<uint32_t>(e.ends.y1) * 0x9e3779b97f4a7c15ull ^
                 static_cast<uint32_t>(e.ends.y2) * 0xc2b2ae3d27d4eb4full ^
                 static_cast<uint32_t>(e.ends.x1) * 0x165667b19e3779f9ull ^
                 static_cast<uint32_t>(e.ends.x2) * 0xd6e8feb86659fd93ull ^
                 static_cast<uint32_t>(e.color) * 0xff51afd7ed558ccdull;
    return static_cast<uint32_t>(h >> 32 ^ h);
}

/* Starts a publication: an empty set without touching the slots. */
static void begin_set()
{
    overview_scratch &s = g_overview_scratch;
    if (s.slots.empty())
        s.slots.assign(4096, overview_slot{});
    s.stamp++;
    if (s.stamp == 0) {
        /* After 2^32 publications old stamps would come back: wipe them. */
        for (overview_slot &slot : s.slots)
            slot.stamp = 0;
        s.stamp = 1;
    }
    s.used = 0;
    s.kept.clear();
}

/* Puts `e` with hash `h` into a free slot, or finds the slot of an equal
 * line; true when the line was new. */
static bool insert_new(const overview_line &e, uint32_t h);

/* Doubles the set, keeping this publication's lines. */
static void grow_set()
{
    overview_scratch &s = g_overview_scratch;
    std::vector<overview_slot> old;
    old.swap(s.slots);
    s.slots.assign(old.size() * 2, overview_slot{});
    s.used = 0;
    for (const overview_slot &slot : old) {
        if (slot.stamp == s.stamp)
            insert_new(slot.line, slot.hash);
    }
}

static bool insert_new(const overview_line &e, uint32_t h)
{
    overview_scratch &s = g_overview_scratch;
    if (2 * static_cast<size_t>(s.used + 1) > s.slots.size())
        grow_set();
    size_t mask = s.slots.size() - 1;
    for (size_t i = h & mask;; i = (i + 1) & mask) {
        overview_slot &slot = s.slots[i];
        if (slot.stamp != s.stamp) {
            slot = {e, h, s.stamp};
            s.used++;
            return true;
        }
        if (slot.hash == h && same_overview_line(slot.line, e))
            return false;
    }
}

/* Keeps line j when its values are not in the set yet. */
static void keep_if_new(const overview_geometry &g, const line_record *lines, int32_t j)
{
    overview_line e = line_of(g, lines[j]);
    if (insert_new(e, line_hash(e)))
        g_overview_scratch.kept.push_back(j);
}

void publish_overview_lines()
{
    const line_record *lines = g_trace.lines;
    int32_t count = g_trace.main.count;
    window_span span = window_span_of(lines, count, g_ui.over_start, g_ui.over_end);
    overview_geometry g = current_geometry();
    begin_set();
    overview_scratch &s = g_overview_scratch;
    std::vector<int32_t> &found = g_overview_index.found;
    if (overview_index_candidates(lines, count, span.first, span.stop, g, found)) {
        for (int32_t j : found)
            keep_if_new(g, lines, j);
    } else {
        overview_line later = {{0, 0, 0, 0}, -1};   /* no colour has id -1 */
        for (int32_t j = span.stop - 1; j >= span.first; j--) {
            if (g.start > lines[j].t_recv)
                continue;
            overview_line e = line_of(g, lines[j]);
            /* Neighbours often share their pixels: the line just walked is
             * in the set already, so no need to look the repeat up. */
            if (same_overview_line(e, later))
                continue;
            later = e;
            if (insert_new(e, line_hash(e)))
                s.kept.push_back(j);
        }
    }
    std::vector<overview_line> &values = s.values;
    values.clear();
    for (size_t k = s.kept.size(); k-- > 0;)
        values.push_back(line_of(g, lines[s.kept[k]]));
    publish_kept(values);
}

void overview_scratch_reset()
{
    std::vector<overview_slot>().swap(g_overview_scratch.slots);
    std::vector<int32_t>().swap(g_overview_scratch.kept);
    std::vector<overview_line>().swap(g_overview_scratch.values);
    g_overview_scratch.stamp = 0;
    g_overview_scratch.used = 0;
}
