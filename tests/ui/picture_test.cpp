/*
 * picture_test.cpp --
 *
 *	The picture of -o, made with no display at all, shows what the
 *	window shows: its SVG, drawn by rsvg-convert, is compared with a
 *	screenshot of the real window (real script, private Xvfb) at the same
 *	size, canvas by canvas, with a small tolerance for smoothing and
 *	fonts, and so is the PNG of -o, which is drawn without smoothing. The
 *	window's "Save as" writes the very same SVG.
 */

#include <gtest/gtest.h>

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <cairo.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "ui/ui_harness.h"

namespace {

/* An RGB picture, 0xRRGGBB per pixel. */
struct image {
    int w = 0, h = 0;
    std::vector<uint32_t> px;
    uint32_t at(int x, int y) const { return px[static_cast<size_t>(y) * w + x]; }
};

image read_png(const std::string &path)
{
    image im;
    cairo_surface_t *s = cairo_image_surface_create_from_png(path.c_str());
    if (cairo_surface_status(s) == CAIRO_STATUS_SUCCESS) {
        cairo_surface_flush(s);
        im.w = cairo_image_surface_get_width(s);
        im.h = cairo_image_surface_get_height(s);
        const unsigned char *d = cairo_image_surface_get_data(s);
        int stride = cairo_image_surface_get_stride(s);
        for (int y = 0; y < im.h; y++)
            for (int x = 0; x < im.w; x++)
                im.px.push_back(*reinterpret_cast<const uint32_t *>(d + y * stride + 4 * x) & 0xffffff);
    }
    cairo_surface_destroy(s);
    return im;
}

image grab(Display *d, int x, int y, int w, int h)
{
    image im;
    XImage *img = XGetImage(d, DefaultRootWindow(d), x, y, w, h, AllPlanes, ZPixmap);
    if (img == nullptr)
        return im;
    im.w = w;
    im.h = h;
    for (int j = 0; j < h; j++)
        for (int i = 0; i < w; i++)
            im.px.push_back(XGetPixel(img, i, j) & 0xffffff);
    XDestroyImage(img);
    return im;
}

/*
 * The share of 8x8 blocks whose mean colour differs by more than 10% in
 * a channel, between region (ax, ay) of `a` and (bx, by) of `b`, w x h.
 * Blocks average away a line smoothed over two rows against one drawn
 * on one, and a glyph placed a pixel apart.
 */
double block_difference(const image &a, int ax, int ay, const image &b, int bx, int by, int w, int h)
{
    int blocks = 0, differ = 0;
    for (int y0 = 0; y0 + 8 <= h; y0 += 8) {
        for (int x0 = 0; x0 + 8 <= w; x0 += 8) {
            double sa[3] = {0, 0, 0}, sb[3] = {0, 0, 0};
            for (int y = y0; y < y0 + 8; y++) {
                for (int x = x0; x < x0 + 8; x++) {
                    uint32_t p = a.at(ax + x, ay + y), q = b.at(bx + x, by + y);
                    for (int c = 0; c < 3; c++) {
                        sa[c] += (p >> (8 * c)) & 0xff;
                        sb[c] += (q >> (8 * c)) & 0xff;
                    }
                }
            }
            bool off = false;
            for (int c = 0; c < 3; c++)
                off = off || std::abs(sa[c] - sb[c]) / 64.0 > 25.5;
            blocks++;
            differ += off;
        }
    }
    return blocks ? static_cast<double>(differ) / blocks : 1.0;
}

const char sample[] = WIREPAINT_SOURCE_DIR "/examples/sender.pcap";

TEST(Picture, SvgWithoutADisplayLooksLikeTheWindow)
{
    std::string dir = uitest::make_temp_dir();
    /* The picture, with no DISPLAY at all. */
    uitest::run_result r = uitest::run_wirepaint({"-g", "800x600", "-o", "out.svg", sample}, dir, "");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err.find("wirepaint"), std::string::npos) << r.err;
    ASSERT_EQ(std::system(("rsvg-convert " + dir + "/out.svg -o " + dir + "/out.png").c_str()), 0);
    image pic = read_png(dir + "/out.png");
    ASSERT_EQ(pic.w, 800);
    ASSERT_EQ(pic.h, 22 + 600 + 20);

    /* The window, and its own Save as, at the same size. */
    uitest::xserver x;
    ASSERT_TRUE(x.ok());
    uitest::write_file(dir + "/wirepaint.tcl",
                       "set ::rec [open record.txt w]\n"
                       "proc rec {args} { puts $::rec [join $args \"\\t\"]; flush $::rec }\n"
                       "source {" WIREPAINT_SOURCE_DIR "/script/wirepaint.tcl}\n"
                       "update\n"
                       "saveas_clib saved.svg\n"
                       "foreach w {.subframe1.canvas .subframe2.canvas} {"
                       " rec geometry $w [winfo rootx $w] [winfo rooty $w] }\n");
    pid_t pid = uitest::start_wirepaint({"-g", "800x600", sample}, dir, x.name());
    uitest::record geo;
    for (int i = 0; i < 200 && geo.size() < 2; i++) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        geo = uitest::events(uitest::read_record(dir + "/record.txt"), "geometry");
    }
    ASSERT_EQ(geo.size(), 2u);
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    Display *d = XOpenDisplay(x.name().c_str());
    ASSERT_NE(d, nullptr);
    image main = grab(d, std::stoi(geo[0][2]), std::stoi(geo[0][3]), 640, 600);
    image over = grab(d, std::stoi(geo[1][2]), std::stoi(geo[1][3]), 160, 600);
    XCloseDisplay(d);
    kill(pid, SIGTERM);
    uitest::finish_wirepaint(pid, dir, 10);
    ASSERT_EQ(main.w, 640);

    double dm = block_difference(main, 0, 0, pic, 0, 22, 640, 600);
    double dov = block_difference(over, 0, 0, pic, 640, 22, 160, 600);
    /* The SVG reader smooths every line; where the overview stacks lines
     * a pixel apart, smoothing blends colours that the window's unsmoothed
     * lines keep apart (about 10% of its blocks), so it gets more room. */
    EXPECT_LT(dm, 0.03) << "main canvas";
    EXPECT_LT(dov, 0.15) << "overview";
    /* The PNG is drawn without smoothing, as the window is. */
    r = uitest::run_wirepaint({"-g", "800x600", "-o", "out.png", sample}, dir, "");
    ASSERT_EQ(r.status, 0) << r.err;
    image png = read_png(dir + "/out.png");
    ASSERT_EQ(png.w, 800);
    EXPECT_LT(block_difference(main, 0, 0, png, 0, 22, 640, 600), 0.01) << "png, main canvas";
    EXPECT_LT(block_difference(over, 0, 0, png, 640, 22, 160, 600), 0.02) << "png, overview";
    /* Exactly the same pixels where nothing is smoothed: the grounds and
     * the left axis. */
    EXPECT_EQ(main.at(300, 5), pic.at(300, 22 + 5));
    EXPECT_EQ(main.at(79, 300), pic.at(79, 22 + 300));
    EXPECT_EQ(over.at(100, 590), pic.at(740, 22 + 590));

    EXPECT_EQ(uitest::read_file(dir + "/saved.svg"), uitest::read_file(dir + "/out.svg"));
    if (std::getenv("WIREPAINT_KEEP_TMP") == nullptr)
        std::filesystem::remove_all(dir);
}

}  // namespace
