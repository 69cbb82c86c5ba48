/*
 * graph_render_test.cpp --
 *
 *	The graph drawing: a lone spike among 300,000 points still shows in
 *	a 600-pixel-wide PNG read back with cairo, and values are written in
 *	the unit that fits their axis.
 */

#include <gtest/gtest.h>

#include <cairo.h>

#include <string>

#include "render/graph_render.h"
#include "support/pcapgen.h"

TEST(GraphRender, LoneSpikeShowsAmongManyPoints)
{
    graph_data g;
    g.type = GRAPH_RTT;
    g.unit = UNIT_SECONDS;
    g.y_name = "round-trip time";
    g.title = "spike";
    graph_series s;
    s.name = "samples";
    s.colour = "#ff0000";
    s.style = STYLE_DOTS;
    s.dashed = 0;
    for (int i = 0; i < 300000; i++) {
        double v = i == 123457 ? 0.090 : 0.010;
        s.pts.push_back({i * 1e-5f, i, v, v});
    }
    pyramid_build(&s.pyr, s.pts);
    g.series.push_back(s);
    g.t_min = 0, g.t_max = 3, g.v_min = 0, g.v_max = 0.1;
    graph_view v = graph_full_view(g, 600, 400);
    std::string path = pcapgen::temp_path("spike.png"), error;
    ASSERT_EQ(render_graph(g, v, path, PICTURE_PNG, &error), 1) << error;
    cairo_surface_t *img = cairo_image_surface_create_from_png(path.c_str());
    ASSERT_EQ(cairo_image_surface_get_width(img), 600);
    graph_plot p = graph_plot_area(600, 400);
    int x = static_cast<int>(p.left + 1.23457 / 3.0 * p.width);
    int y = static_cast<int>(p.top + (v.v1 - 0.090) * p.height / (v.v1 - v.v0));
    const unsigned char *d = cairo_image_surface_get_data(img);
    int stride = cairo_image_surface_get_stride(img), red = 0;
    for (int yy = y - 3; yy <= y + 3; yy++) {
        for (int xx = x - 3; xx <= x + 3; xx++) {
            uint32_t px = *reinterpret_cast<const uint32_t *>(d + yy * stride + xx * 4);
            red += ((px >> 16) & 0xff) > 200 && ((px >> 8) & 0xff) < 100;
        }
    }
    cairo_surface_destroy(img);
    EXPECT_GT(red, 3);
    EXPECT_EQ(graph_nearest_record(g, v, x + 0.5, y + 0.5, 6), 123457);

    EXPECT_EQ(graph_value_text(UNIT_BYTES, 412345, 450000), "412 kB");
    EXPECT_EQ(graph_value_text(UNIT_BITS_PER_S, 3.5e6, 4e6), "3.50 Mbit/s");
    EXPECT_EQ(graph_value_text(UNIT_SECONDS, 0.0412, 0.09), "41.2 ms");
}
