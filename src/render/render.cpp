/*
 * render.cpp --
 *
 *	Draws a display list with cairo. One drawing routine serves every
 *	format: only the surface differs (cairo's SVG, PDF and PostScript
 *	surfaces, or an image surface written out as PNG). The geometry
 *	follows Tk's canvas: 1 px lines are stroked through pixel centres,
 *	arrow heads are Tk's polygon for -arrowshape {9 11 3}, a text is
 *	centred on its point by its advance width and its font's line space.
 */

#include "render/render.h"

#include <cairo-pdf.h>
#include <cairo-ps.h>
#include <cairo-svg.h>
#include <cairo.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>

#include "analysis/class_name.h"
#include "analysis/line.h"

namespace {

/* Colours of the window outside the canvases. */
const char header_ground[] = "#eef1f5";
const char window_ground[] = "#dcdad5";
const char main_ground[] = "white";
const char over_ground[] = "#fbfbfb";

/* Tk's arrow shape {9 11 3} of the main canvas's arrows. */
const double ARROW_A = 9.0, ARROW_B = 11.0, ARROW_C = 3.0;

struct rgb {
    double r, g, b;
};

/* The few colour names the diagram uses, with Tk 8.6's values (its green
 * and purple are the web colours, not X11's), then "#rrggbb". */
rgb colour_of(const std::string &name)
{
    static const struct {
        const char *name;
        unsigned value;
    } named[] = {
        {"black", 0x000000}, {"white", 0xffffff},  {"blue", 0x0000ff},  {"red", 0xff0000},
        {"green", 0x008000}, {"orange", 0xffa500}, {"purple", 0x800080}, {"brown", 0xa52a2a},
    };
    unsigned v = 0;
    if (name.size() == 7 && name[0] == '#') {
        v = static_cast<unsigned>(std::strtoul(name.c_str() + 1, nullptr, 16));
    } else {
        for (const auto &n : named) {
            if (name == n.name)
                v = n.value;
        }
    }
    return rgb{((v >> 16) & 0xff) / 255.0, ((v >> 8) & 0xff) / 255.0, (v & 0xff) / 255.0};
}

void set_colour(cairo_t *cr, const std::string &name)
{
    set_named_colour(cr, name);
}

void fill_rect(cairo_t *cr, double x, double y, double w, double h, const std::string &colour)
{
    set_colour(cr, colour);
    cairo_rectangle(cr, x, y, w, h);
    cairo_fill(cr);
}

/* The script's fonts at Tk's scaling of 100 dpi: sizes in pixels. */
void select_font(cairo_t *cr, dl_font font)
{
    switch (font) {
    case DL_FONT_LABEL:
        cairo_select_font_face(cr, "Helvetica", CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_NORMAL);
        cairo_set_font_size(cr, 9.0);
        break;
    case DL_FONT_HOST:
        cairo_select_font_face(cr, "Helvetica", CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_BOLD);
        cairo_set_font_size(cr, 10.0 * 100.0 / 72.0);
        break;
    case DL_FONT_SMALL:
    default:
        cairo_select_font_face(cr, "Helvetica", CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_NORMAL);
        cairo_set_font_size(cr, 8.0 * 100.0 / 72.0);
        break;
    }
}

/* Where a text centred on (x, y) lies: its box and its baseline. */
struct text_box {
    double left, top, width, height, baseline;
};

text_box place_text(cairo_t *cr, const std::string &text, double x, double y)
{
    cairo_text_extents_t te;
    cairo_font_extents_t fe;
    cairo_text_extents(cr, text.c_str(), &te);
    cairo_font_extents(cr, &fe);
    double ascent = std::ceil(fe.ascent);
    double height = ascent + std::ceil(fe.descent);
    text_box b;
    b.width = te.x_advance;
    b.height = height;
    b.left = std::floor(x - b.width / 2.0);
    b.top = std::floor(y - height / 2.0);
    b.baseline = b.top + ascent;
    return b;
}

void draw_text(cairo_t *cr, const std::string &text, double x, double y, dl_font font,
               const std::string &colour, bool ground)
{
    select_font(cr, font);
    text_box b = place_text(cr, text, x, y);
    if (ground)
        fill_rect(cr, b.left - 1, b.top, b.width + 2, b.height, "white");
    set_colour(cr, colour);
    cairo_move_to(cr, b.left, b.baseline);
    cairo_show_text(cr, text.c_str());
}

/*
 * Tk's arrow head at (tx, ty) for a line coming from (fx, fy): fills the
 * head's polygon and returns, in *nx, *ny, where the line now ends.
 */
void arrow_head(cairo_t *cr, double tx, double ty, double fx, double fy, double width,
                double *nx, double *ny)
{
    double a = ARROW_A + 0.001;
    double b = ARROW_B + 0.001;
    double c = ARROW_C + width / 2.0 + 0.001;
    double frac = (width / 2.0) / c;
    double backup = frac * b + a * (1.0 - frac) / 2.0;
    double dx = tx - fx;
    double dy = ty - fy;
    double len = std::hypot(dx, dy);
    double sin_t = len == 0 ? 0 : dy / len;
    double cos_t = len == 0 ? 0 : dx / len;
    double vx = tx - a * cos_t, vy = ty - a * sin_t;
    double p2x = tx - b * cos_t + c * sin_t;
    double p2y = ty - b * sin_t - c * cos_t;
    double p8x = p2x - 2 * c * sin_t;
    double p8y = p2y + 2 * c * cos_t;
    double p4x = p2x * frac + vx * (1.0 - frac);
    double p4y = p2y * frac + vy * (1.0 - frac);
    double p6x = p8x * frac + vx * (1.0 - frac);
    double p6y = p8y * frac + vy * (1.0 - frac);
    cairo_move_to(cr, tx, ty);
    cairo_line_to(cr, p2x, p2y);
    cairo_line_to(cr, p4x, p4y);
    cairo_line_to(cr, p6x, p6y);
    cairo_line_to(cr, p8x, p8y);
    cairo_close_path(cr);
    cairo_fill(cr);
    *nx = tx - backup * cos_t;
    *ny = ty - backup * sin_t;
}

/* Odd widths are stroked through pixel centres, as X fills them. */
double pixel_offset(double width)
{
    return (static_cast<int>(width) % 2 == 1) ? 0.5 : 0.0;
}

void draw_line(cairo_t *cr, const dl_item &it)
{
    /* Lines without smoothing, one pixel wide as X draws them: dense runs
     * of arrows keep their colours instead of blending. */
    cairo_set_antialias(cr, CAIRO_ANTIALIAS_NONE);
    double o = pixel_offset(it.width);
    double x1 = it.x1 + o, y1 = it.y1 + o, x2 = it.x2 + o, y2 = it.y2 + o;
    set_colour(cr, it.fill);
    if (it.arrow == DL_ARROW_LAST)
        arrow_head(cr, x2, y2, x1, y1, it.width, &x2, &y2);
    else if (it.arrow == DL_ARROW_FIRST)
        arrow_head(cr, x1, y1, x2, y2, it.width, &x1, &y1);
    cairo_set_line_width(cr, it.width);
    cairo_set_line_cap(cr, CAIRO_LINE_CAP_BUTT);
    cairo_move_to(cr, x1, y1);
    cairo_line_to(cr, x2, y2);
    cairo_stroke(cr);
    cairo_set_antialias(cr, CAIRO_ANTIALIAS_DEFAULT);
}

void draw_rect(cairo_t *cr, const dl_item &it)
{
    double x1 = std::min(it.x1, it.x2), x2 = std::max(it.x1, it.x2);
    double y1 = std::min(it.y1, it.y2), y2 = std::max(it.y1, it.y2);
    if (!it.fill.empty())
        fill_rect(cr, x1, y1, x2 - x1, y2 - y1, it.fill);
    if (!it.outline.empty()) {
        set_colour(cr, it.outline);
        cairo_set_line_width(cr, it.width);
        double o = pixel_offset(it.width);
        cairo_rectangle(cr, x1 + o, y1 + o, x2 - x1 - 1, y2 - y1 - 1);
        cairo_stroke(cr);
    }
}

void draw_item(cairo_t *cr, const dl_item &it)
{
    switch (it.kind) {
    case DL_LINE:
        draw_line(cr, it);
        break;
    case DL_RECT:
        draw_rect(cr, it);
        break;
    case DL_TEXT:
        draw_text(cr, it.text, it.x1, it.y1, it.font, it.fill, it.ground);
        break;
    }
}

/* One canvas: its ground, then its items, clipped to what the window shows. */
void draw_canvas(cairo_t *cr, const display_list &dl, dl_canvas canvas, double left, int width,
                 int height, const char *ground)
{
    cairo_save(cr);
    cairo_rectangle(cr, left, HEADER_HEIGHT, width, height);
    cairo_clip(cr);
    fill_rect(cr, left, HEADER_HEIGHT, width, height, ground);
    cairo_translate(cr, left, HEADER_HEIGHT - dl_view_top(dl, canvas));
    for (const dl_item &it : dl.items[canvas])
        draw_item(cr, it);
    cairo_restore(cr);
}

/* The header strip: host names over the axes, the overview's title. */
void draw_header(cairo_t *cr, const display_list &dl)
{
    fill_rect(cr, 0, 0, picture_width(dl), HEADER_HEIGHT, header_ground);
    double mid = HEADER_HEIGHT / 2.0;
    const std::string &left = dl_get(dl, "lefthost");
    int have = std::atoi(dl_get(dl, "segcount").c_str()) > 0 && !left.empty();
    if (have) {
        double lx = dl_get_num(dl, "fx1", 0);
        double rx = dl_get_num(dl, "fx1", 1);
        draw_text(cr, left, lx, mid, DL_FONT_HOST, "#1a202c", false);
        draw_text(cr, dl_get(dl, "righthost"), rx, mid, DL_FONT_HOST, "#1a202c", false);
        draw_text(cr, "time \u2193", std::floor((lx + rx) / 2), mid, DL_FONT_SMALL, "#718096",
                  false);
    }
    draw_text(cr, "Overview", dl.main_width + dl.over_width / 2.0, mid, DL_FONT_SMALL, "black",
              false);
}

/* The legend strip: a short arrow in each class's colour and its meaning. */
void draw_legend(cairo_t *cr, const display_list &dl)
{
    double top = HEADER_HEIGHT + dl.main_height;
    fill_rect(cr, 0, top, picture_width(dl), LEGEND_HEIGHT, window_ground);
    double x = 6;
    double y = top + LEGEND_HEIGHT / 2.0;
    for (int cls : legend_classes) {
        dl_item it{};
        it.kind = DL_LINE;
        it.x1 = x + 8;
        it.x2 = x + 30;
        it.y1 = it.y2 = std::floor(y) - 0.5;
        it.fill = color_table[cls];
        it.width = 2.0;
        it.arrow = DL_ARROW_LAST;
        draw_line(cr, it);
        select_font(cr, DL_FONT_SMALL);
        text_box b = place_text(cr, class_name(cls), 0, y);
        draw_text(cr, class_name(cls), x + 33 + b.width / 2, y, DL_FONT_SMALL, "black", false);
        x += 33 + b.width + 6;
    }
}

void draw_picture(cairo_t *cr, const display_list &dl)
{
    draw_header(cr, dl);
    draw_canvas(cr, dl, DL_MAIN, 0, dl.main_width, dl.main_height, main_ground);
    draw_canvas(cr, dl, DL_OVER, dl.main_width, dl.over_width, dl.over_height, over_ground);
    draw_legend(cr, dl);
}

/* Draws on `surface`, finishes a vector surface's file, reports status. */
int draw_and_finish(cairo_surface_t *surface, const std::function<void(cairo_t *)> &draw,
                    std::string *error)
{
    cairo_t *cr = cairo_create(surface);
    /* Whole-pixel glyph advances, as the window's fonts have them, so that
     * texts take the same width in every format. */
    cairo_font_options_t *fo = cairo_font_options_create();
    cairo_font_options_set_hint_metrics(fo, CAIRO_HINT_METRICS_ON);
    cairo_font_options_set_hint_style(fo, CAIRO_HINT_STYLE_FULL);
    cairo_set_font_options(cr, fo);
    cairo_font_options_destroy(fo);
    draw(cr);
    cairo_status_t st = cairo_status(cr);
    cairo_destroy(cr);
    if (cairo_surface_get_type(surface) == CAIRO_SURFACE_TYPE_IMAGE)
        cairo_surface_flush(surface);
    else
        cairo_surface_finish(surface);
    if (st == CAIRO_STATUS_SUCCESS)
        st = cairo_surface_status(surface);
    if (st != CAIRO_STATUS_SUCCESS)
        *error = cairo_status_to_string(st);
    return st == CAIRO_STATUS_SUCCESS;
}

cairo_surface_t *vector_surface(const std::string &path, picture_format format, double w,
                                double h)
{
    switch (format) {
    case PICTURE_SVG: {
        /* Pixels, so that a reader draws it at the window's size. */
        cairo_surface_t *s = cairo_svg_surface_create(path.c_str(), w, h);
        cairo_svg_surface_set_document_unit(s, CAIRO_SVG_UNIT_PX);
        return s;
    }
    case PICTURE_PDF:
        return cairo_pdf_surface_create(path.c_str(), w, h);
    case PICTURE_PS:
    case PICTURE_EPS: {
        cairo_surface_t *s = cairo_ps_surface_create(path.c_str(), w, h);
        if (format == PICTURE_EPS)
            cairo_ps_surface_set_eps(s, 1);
        return s;
    }
    default:
        return nullptr;
    }
}

}  // namespace

void set_named_colour(cairo_t *cr, const std::string &name)
{
    rgb c = colour_of(name);
    cairo_set_source_rgb(cr, c.r, c.g, c.b);
}

int render_drawing(int w, int h, const std::string &path, picture_format format,
                   const std::function<void(cairo_t *)> &draw, std::string *error)
{
    if (format == PICTURE_PNG) {
        cairo_surface_t *s = cairo_image_surface_create(CAIRO_FORMAT_RGB24, w, h);
        int ok = draw_and_finish(s, draw, error);
        if (ok) {
            cairo_status_t st = cairo_surface_write_to_png(s, path.c_str());
            ok = st == CAIRO_STATUS_SUCCESS;
            if (!ok)
                *error = cairo_status_to_string(st);
        }
        cairo_surface_destroy(s);
        return ok;
    }
    cairo_surface_t *s = vector_surface(path, format, w, h);
    int ok = draw_and_finish(s, draw, error);
    cairo_surface_destroy(s);
    return ok;
}

picture_format picture_format_for(const std::string &path)
{
    size_t dot = path.rfind('.');
    if (dot == std::string::npos || path.find('/', dot) != std::string::npos)
        return PICTURE_UNKNOWN;
    std::string ext = path.substr(dot + 1);
    for (char &ch : ext)
        ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    if (ext == "svg")
        return PICTURE_SVG;
    if (ext == "pdf")
        return PICTURE_PDF;
    if (ext == "png")
        return PICTURE_PNG;
    if (ext == "ps")
        return PICTURE_PS;
    if (ext == "eps")
        return PICTURE_EPS;
    return PICTURE_UNKNOWN;
}

int picture_width(const display_list &dl)
{
    return dl.main_width + dl.over_width;
}

int picture_height(const display_list &dl)
{
    return HEADER_HEIGHT + std::max(dl.main_height, dl.over_height) + LEGEND_HEIGHT;
}

int render_picture(const display_list &dl, const std::string &path, picture_format format,
                   std::string *error)
{
    if (format == PICTURE_UNKNOWN) {
        *error = "the file name must end in .svg, .pdf, .png, .ps or .eps";
        return 0;
    }
    if (picture_width(dl) <= 0 || picture_height(dl) <= 0) {
        *error = "the picture has no size";
        return 0;
    }
    auto draw = [&dl](cairo_t *cr) { draw_picture(cr, dl); };
    if (!render_drawing(picture_width(dl), picture_height(dl), path, format, draw, error)) {
        *error = "cannot write " + path + ": " + *error;
        return 0;
    }
    return 1;
}
