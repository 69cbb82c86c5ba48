/*
 * render_test.cpp --
 *
 *	The renderer writes real SVG, PDF, PNG and PostScript files through
 *	cairo; the files are read back with real tools (rsvg-convert,
 *	pdftoppm, cairo's PNG reader) and their pixels show the items where
 *	the canvas would have them, in Tk's colours.
 */

#include <gtest/gtest.h>

#include <cairo.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "render/display_list.h"
#include "render/render.h"

namespace {

std::string temp_dir()
{
    char templ[] = "/tmp/wirepaint-render-XXXXXX";
    return mkdtemp(templ) ? templ : "";
}

std::string read_all(const std::string &path)
{
    std::ifstream f(path, std::ios::binary);
    std::stringstream s;
    s << f.rdbuf();
    return s.str();
}

/* A 400x300 main canvas and a 100x300 overview, one arrow of each kind. */
display_list sample()
{
    display_list dl;
    dl_clear(&dl);
    dl.main_width = 400;
    dl.main_height = 300;
    dl.over_width = 100;
    dl.over_height = 300;
    for (int i = 0; i < 2; i++) {
        dl_set_elem(&dl, "fx1", i, i ? "320" : "80");
        dl_set_elem(&dl, "fx2", i, i ? "320" : "80");
        dl_set_elem(&dl, "fy1", i, "20");
        dl_set_elem(&dl, "fy2", i, "600");
    }
    dl_eval(&dl, "drawframe");
    /* A horizontal blue arrow at region row 200 and a green one at 250. */
    dl_set_var(&dl, "linecnt", "2");
    const char *y[] = {"200", "250"}, *c[] = {"blue", "green"};
    for (int i = 0; i < 2; i++) {
        dl_set_elem(&dl, "x1", i, "80");
        dl_set_elem(&dl, "x2", i, "320");
        dl_set_elem(&dl, "y1", i, y[i]);
        dl_set_elem(&dl, "y2", i, y[i]);
        dl_set_elem(&dl, "color", i, c[i]);
        dl_set_elem(&dl, "arrow", i, "last");
    }
    dl_eval(&dl, "drawlines");
    dl_set_var(&dl, "rx1", "5.0");
    dl_set_var(&dl, "rx2", "95.0");
    dl_set_var(&dl, "ry1", "50.0");
    dl_set_var(&dl, "ry2", "100.0");
    dl_eval(&dl, "drawbox");
    dl_set_var(&dl, "segcount", "2");
    dl_set_var(&dl, "lefthost", "10.0.0.1:40000");
    dl_set_var(&dl, "righthost", "10.0.0.2:80");
    /* The window shows region rows 150 to 449 of the main canvas. */
    dl_eval(&dl, ".subframe1.canvas yview moveto 0.25");
    return dl;
}

/* The colour of pixel (x, y) of a PNG as 0xRRGGBB; -1 when unreadable. */
long png_pixel(const std::string &path, int x, int y, int *w = nullptr, int *h = nullptr)
{
    cairo_surface_t *s = cairo_image_surface_create_from_png(path.c_str());
    long v = -1;
    if (cairo_surface_status(s) == CAIRO_STATUS_SUCCESS) {
        cairo_surface_flush(s);
        if (w)
            *w = cairo_image_surface_get_width(s);
        if (h)
            *h = cairo_image_surface_get_height(s);
        const unsigned char *d = cairo_image_surface_get_data(s);
        int stride = cairo_image_surface_get_stride(s);
        v = *reinterpret_cast<const uint32_t *>(d + y * stride + 4 * x) & 0xffffff;
    }
    cairo_surface_destroy(s);
    return v;
}

TEST(Render, FormatComesFromTheExtension)
{
    struct {
        const char *name;
        picture_format f;
    } rows[] = {{"a.svg", PICTURE_SVG}, {"A.SVG", PICTURE_SVG}, {"x/b.pdf", PICTURE_PDF},
                {"c.Png", PICTURE_PNG}, {"d.ps", PICTURE_PS},   {"e.eps", PICTURE_EPS},
                {"f.jpg", PICTURE_UNKNOWN}, {"svg", PICTURE_UNKNOWN}, {"dir.svg/x", PICTURE_UNKNOWN},
                {"", PICTURE_UNKNOWN}};
    for (const auto &r : rows)
        EXPECT_EQ(picture_format_for(r.name), r.f) << r.name;
}

TEST(Render, EveryFormatReadsBackWithTheItemsWhereTheWindowShowsThem)
{
    std::string dir = temp_dir();
    display_list dl = sample();
    EXPECT_EQ(picture_width(dl), 500);
    EXPECT_EQ(picture_height(dl), HEADER_HEIGHT + 300 + LEGEND_HEIGHT);
    std::string error;
    for (const char *ext : {"svg", "pdf", "png", "ps", "eps"}) {
        std::string path = dir + "/p." + ext;
        ASSERT_EQ(render_picture(dl, path, picture_format_for(path), &error), 1) << error;
    }
    /* Each raster: region row 200 lies at picture row 22 + 200 - 150. */
    ASSERT_EQ(std::system(("rsvg-convert " + dir + "/p.svg -o " + dir + "/svg.png").c_str()), 0);
    ASSERT_EQ(std::system(("pdftoppm -png -r 72 -singlefile " + dir + "/p.pdf " + dir + "/pdf").c_str()), 0);
    for (const char *png : {"p.png", "svg.png", "pdf.png"}) {
        std::string path = dir + "/" + png;
        int w = 0, h = 0;
        EXPECT_EQ(png_pixel(path, 200, 72, &w, &h), 0x0000ff) << png;
        EXPECT_EQ(w, 500) << png;
        EXPECT_EQ(h, 342) << png;
        EXPECT_EQ(png_pixel(path, 200, 122), 0x008000) << png << ": Tk's green";
        EXPECT_EQ(png_pixel(path, 200, 100), 0xffffff) << png << ": main canvas ground";
        EXPECT_EQ(png_pixel(path, 450, 100), 0xfdf3c4) << png << ": the view box";
        EXPECT_EQ(png_pixel(path, 450, 250), 0xfbfbfb) << png << ": overview ground";
    }
    std::string ps = read_all(dir + "/p.ps");
    EXPECT_EQ(ps.rfind("%!PS-Adobe-3.0", 0), 0u);
    EXPECT_NE(ps.find("%%EOF"), std::string::npos);
    EXPECT_EQ(read_all(dir + "/p.eps").rfind("%!PS-Adobe-3.0 EPSF-3.0", 0), 0u);
    std::filesystem::remove_all(dir);
}

TEST(Render, FailuresSayWhy)
{
    display_list dl = sample();
    std::string error;
    EXPECT_EQ(render_picture(dl, "/nonexistent-dir/x.svg", PICTURE_SVG, &error), 0);
    EXPECT_EQ(error.rfind("cannot write /nonexistent-dir/x.svg: ", 0), 0u) << error;
    EXPECT_EQ(render_picture(dl, "/nonexistent-dir/x.png", PICTURE_PNG, &error), 0);
    EXPECT_EQ(error.rfind("cannot write /nonexistent-dir/x.png: ", 0), 0u) << error;
    EXPECT_EQ(render_picture(dl, "x.gif", PICTURE_UNKNOWN, &error), 0);
    EXPECT_NE(error.find(".svg, .pdf, .png, .ps or .eps"), std::string::npos);
    display_list empty;
    dl_clear(&empty);
    EXPECT_EQ(render_picture(empty, "x.svg", PICTURE_SVG, &error), 0);
}

}  // namespace
