/*
 * display_list.cpp --
 *
 *	The display list: published values, and the items that the UI
 *	script's draw procedures would make of them. Each draw procedure here
 *	mirrors its namesake in script/wirepaint.tcl item for item; a change
 *	to one belongs in the other.
 */

#include "render/display_list.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>

void dl_clear(display_list *dl)
{
    dl->vars.clear();
    dl->arrays.clear();
    dl->items[DL_MAIN].clear();
    dl->items[DL_OVER].clear();
    dl->main_width = dl->main_height = 0;
    dl->over_width = dl->over_height = 0;
    dl->main_yview = dl->over_yview = 0.0;
}

void dl_set_var(display_list *dl, const char *name, const char *value)
{
    dl->vars[name] = value;
}

void dl_set_elem(display_list *dl, const char *name, int index, const char *value)
{
    if (index < 0)
        return;
    std::vector<std::string> &a = dl->arrays[name];
    if (a.size() <= static_cast<size_t>(index))
        a.resize(static_cast<size_t>(index) + 1);
    a[static_cast<size_t>(index)] = value;
}

const std::string &dl_get(const display_list &dl, const char *name, int index)
{
    static const std::string none;
    if (index < 0) {
        auto v = dl.vars.find(name);
        return v == dl.vars.end() ? none : v->second;
    }
    auto a = dl.arrays.find(name);
    if (a == dl.arrays.end() || static_cast<size_t>(index) >= a->second.size())
        return none;
    return a->second[static_cast<size_t>(index)];
}

double dl_get_num(const display_list &dl, const char *name, int index)
{
    return std::atof(dl_get(dl, name, index).c_str());
}

namespace {

dl_item make_line(dl_tag tag, double x1, double y1, double x2, double y2, const std::string &fill,
                  double width, dl_arrow arrow)
{
    dl_item it{};
    it.kind = DL_LINE;
    it.tag = tag;
    it.x1 = x1;
    it.y1 = y1;
    it.x2 = x2;
    it.y2 = y2;
    it.fill = fill;
    it.width = width;
    it.arrow = arrow;
    return it;
}

dl_item make_text(dl_tag tag, double x, double y, const std::string &text, const std::string &fill,
                  dl_font font, bool ground)
{
    dl_item it{};
    it.kind = DL_TEXT;
    it.tag = tag;
    it.x1 = it.x2 = x;
    it.y1 = it.y2 = y;
    it.text = text;
    it.fill = fill;
    it.font = font;
    it.ground = ground;
    return it;
}

void remove_tag(display_list *dl, dl_canvas canvas, dl_tag tag)
{
    std::vector<dl_item> &v = dl->items[canvas];
    v.erase(std::remove_if(v.begin(), v.end(), [tag](const dl_item &it) { return it.tag == tag; }),
            v.end());
}

int count_of(const display_list &dl, const char *name)
{
    return std::atoi(dl_get(dl, name).c_str());
}

/* drawframe: the two axes, 2 px wide in slate grey, replacing older ones. */
void draw_frame(display_list *dl)
{
    remove_tag(dl, DL_MAIN, DL_TAG_FRAME);
    for (int i = 0; i < 2; i++) {
        dl->items[DL_MAIN].push_back(make_line(DL_TAG_FRAME, dl_get_num(*dl, "fx1", i),
                                               dl_get_num(*dl, "fy1", i), dl_get_num(*dl, "fx2", i),
                                               dl_get_num(*dl, "fy2", i), "#4a5568", 2.0,
                                               DL_ARROW_NONE));
    }
}

/* drawsubframe: the overview's axes, 1 px in grey. */
void draw_subframe(display_list *dl)
{
    remove_tag(dl, DL_OVER, DL_TAG_FRAME);
    for (int i = 0; i < 2; i++) {
        dl->items[DL_OVER].push_back(make_line(
            DL_TAG_FRAME, dl_get_num(*dl, "subfx1", i), dl_get_num(*dl, "subfy1", i),
            dl_get_num(*dl, "subfx2", i), dl_get_num(*dl, "subfy2", i), "#718096", 1.0,
            DL_ARROW_NONE));
    }
}

/* drawlines: one arrow per published line, head as "arrow" says, and
 * the notice "lnotice" when it is not empty. */
void draw_lines(display_list *dl)
{
    int n = count_of(*dl, "linecnt");
    for (int i = 0; i < n; i++) {
        const std::string &a = dl_get(*dl, "arrow", i);
        dl_arrow head = a == "last" ? DL_ARROW_LAST : a == "first" ? DL_ARROW_FIRST : DL_ARROW_NONE;
        dl->items[DL_MAIN].push_back(make_line(DL_TAG_LINES, dl_get_num(*dl, "x1", i),
                                               dl_get_num(*dl, "y1", i), dl_get_num(*dl, "x2", i),
                                               dl_get_num(*dl, "y2", i), dl_get(*dl, "color", i),
                                               1.0, head));
    }
    /* The notice under the last arrow when the span holds more lines. */
    const std::string &notice = dl_get(*dl, "lnotice");
    if (!notice.empty())
        dl->items[DL_MAIN].push_back(make_text(DL_TAG_LINES, dl_get_num(*dl, "lnoticex"),
                                               dl_get_num(*dl, "lnoticey"), notice, "#2d3748",
                                               DL_FONT_SMALL, false));
}

void draw_sublines(display_list *dl)
{
    int n = count_of(*dl, "sublinecnt");
    for (int i = 0; i < n; i++) {
        dl->items[DL_OVER].push_back(make_line(
            DL_TAG_SUBLINES, dl_get_num(*dl, "subx1", i), dl_get_num(*dl, "suby1", i),
            dl_get_num(*dl, "subx2", i), dl_get_num(*dl, "suby2", i), dl_get(*dl, "subcolor", i),
            1.0, DL_ARROW_NONE));
    }
}

/* drawtexts: labels, each over a white ground that lies just below it. */
void draw_texts(display_list *dl)
{
    int n = count_of(*dl, "textcnt");
    for (int i = 0; i < n; i++) {
        dl->items[DL_MAIN].push_back(make_text(DL_TAG_TEXTS, dl_get_num(*dl, "tx", i),
                                               dl_get_num(*dl, "ty", i), dl_get(*dl, "text", i),
                                               dl_get(*dl, "txcolor", i), DL_FONT_LABEL, true));
    }
}

void draw_times(display_list *dl)
{
    int n = count_of(*dl, "timecnt");
    for (int i = 0; i < n; i++) {
        dl->items[DL_MAIN].push_back(make_text(DL_TAG_TIMES, dl_get_num(*dl, "tmx", i),
                                               dl_get_num(*dl, "tmy", i), dl_get(*dl, "time", i),
                                               dl_get(*dl, "tmcolor", i), DL_FONT_SMALL, false));
    }
}

/* drawbox: the view box, lowered below everything on the overview. */
void draw_box(display_list *dl)
{
    dl_item it{};
    it.kind = DL_RECT;
    it.tag = DL_TAG_BOX;
    it.x1 = dl_get_num(*dl, "rx1");
    it.y1 = dl_get_num(*dl, "ry1");
    it.x2 = dl_get_num(*dl, "rx2");
    it.y2 = dl_get_num(*dl, "ry2");
    it.fill = "#fdf3c4";
    it.outline = "#b7791f";
    it.width = 1.0;
    std::vector<dl_item> &v = dl->items[DL_OVER];
    v.insert(v.begin(), it);
}

struct procedure_row {
    const char *name;
    void (*draw)(display_list *);   /* null for an erase procedure */
    dl_canvas canvas;               /* erase: canvas and tag removed */
    dl_tag tag;
};

const procedure_row procedures[] = {
    {"drawframe", draw_frame, DL_MAIN, DL_TAG_FRAME},
    {"drawsubframe", draw_subframe, DL_OVER, DL_TAG_FRAME},
    {"drawlines", draw_lines, DL_MAIN, DL_TAG_LINES},
    {"drawsublines", draw_sublines, DL_OVER, DL_TAG_SUBLINES},
    {"drawtexts", draw_texts, DL_MAIN, DL_TAG_TEXTS},
    {"drawtimes", draw_times, DL_MAIN, DL_TAG_TIMES},
    {"drawbox", draw_box, DL_OVER, DL_TAG_BOX},
    {"eraselines", nullptr, DL_MAIN, DL_TAG_LINES},
    {"erasesublines", nullptr, DL_OVER, DL_TAG_SUBLINES},
    {"erasetexts", nullptr, DL_MAIN, DL_TAG_TEXTS},
    {"erasetimes", nullptr, DL_MAIN, DL_TAG_TIMES},
    {"erasebox", nullptr, DL_OVER, DL_TAG_BOX},
};

/* "<canvas> yview moveto F": the fraction, when `script` is that line. */
int parse_moveto(const char *script, const char *canvas, double *fraction)
{
    std::string prefix = std::string(canvas) + " yview moveto ";
    if (std::strncmp(script, prefix.c_str(), prefix.size()) != 0)
        return 0;
    const char *num = script + prefix.size();
    char *end = nullptr;
    double f = std::strtod(num, &end);
    if (end == num)
        return 0;
    *fraction = f;
    return 1;
}

}  // namespace

int dl_eval(display_list *dl, const char *script)
{
    for (const procedure_row &p : procedures) {
        if (std::strcmp(script, p.name) != 0)
            continue;
        if (p.draw != nullptr)
            p.draw(dl);
        else
            remove_tag(dl, p.canvas, p.tag);
        return 1;
    }
    if (parse_moveto(script, ".subframe1.canvas", &dl->main_yview))
        return 1;
    if (parse_moveto(script, ".subframe2.canvas", &dl->over_yview))
        return 1;
    return 0;
}

int dl_view_top(const display_list &dl, dl_canvas canvas)
{
    int height = canvas == DL_MAIN ? dl.main_height : dl.over_height;
    int region = canvas == DL_MAIN ? 2 * height : 4 * height;
    double fraction = canvas == DL_MAIN ? dl.main_yview : dl.over_yview;
    int top = static_cast<int>(fraction * region + 0.5);
    return std::max(0, std::min(top, region - height));
}
