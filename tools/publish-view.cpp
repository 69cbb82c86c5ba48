/*
 * publish-view.cpp --
 *
 *	What the program publishes for a view, for checking the report page
 *	against it. Takes wirepaint's command line (options, one or two
 *	capture files), loads as wirepaint does, sizes the canvases as a run
 *	without a window does (-g, else 1000x800) and sets up the start view
 *	(with -t applied). Then answers one request per line of standard
 *	input with one JSON line on standard output:
 *
 *	    start                the start view: {"start","end","scale","scroll"}
 *	    view START END SCALE the publication of the main window [START, END]
 *	                         at SCALE px/s (each read as a float): arrows
 *	                         [line, x1, y1, x2, y2, colour, arrow], labels and
 *	                         time stamps [x, y, text, colour], the notice
 *	    detail J             the popup text of line J (from 0), as the window
 *	                         sets "message" for a click on its arrow
 *	    hover J              the hover line of line J
 *	    click X Y            the line the window's click at window pixel
 *	                         (X, Y) of the main canvas selects, -1 for none
 *
 *	Floats are printed with 9 significant digits, which read back as the
 *	same float.
 */

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <unistd.h>
#include <sstream>
#include <string>

#include "render/display_list.h"
#include "report/problems.h"
#include "text/detail.h"
#include "trace/trace.h"
#include "ui/cmdline.h"
#include "ui/commands.h"
#include "ui/output.h"
#include "ui/picture.h"
#include "ui/publish.h"
#include "ui/jump.h"
#include "ui/ui_state.h"
#include "webpage/page_data.h"

namespace {

/* The answers go to the standard output the tool was started with; what
 * the program itself writes there while loading or formatting (notes on
 * dropped packets, "[bad opt]") goes to standard error instead. */
std::ofstream g_answers;

std::string num(double v)
{
    char text[40];
    std::snprintf(text, sizeof text, "%.9g", v);
    return text;
}

void print_view()
{
    g_answers << "{\"start\":" << num(g_ui.main_start) << ",\"end\":" << num(g_ui.main_end)
              << ",\"scale\":" << num(g_ui.main_scale) << ",\"scroll\":" << num(g_ui.main_scroll)
              << "}\n";
}

/* Published texts of one kind: arrays X, Y, TEXT, COLOUR, counted by COUNT. */
std::string text_list(const display_list &dl, const char *x, const char *y, const char *text,
                      const char *colour, const char *count)
{
    std::string out = "[";
    int n = std::atoi(dl_get(dl, count).c_str());
    for (int i = 0; i < n; i++) {
        out += (i ? "," : "") + std::string("[") + dl_get(dl, x, i) + "," + dl_get(dl, y, i) +
               "," + json_string(dl_get(dl, text, i)) + "," + json_string(dl_get(dl, colour, i)) +
               "]";
    }
    return out + "]";
}

void print_publication(float start, float end, float scale)
{
    g_ui.main_start = start;
    g_ui.main_end = end;
    g_ui.main_scale = scale;
    display_list dl;
    build_picture(&dl);
    std::string arrows = "[";
    int n = std::atoi(dl_get(dl, "linecnt").c_str());
    for (int i = 0; i < n; i++) {
        arrows += (i ? "," : "") + std::string("[") + std::to_string(g_ui.hits[i].line) + "," +
                  dl_get(dl, "x1", i) + "," + dl_get(dl, "y1", i) + "," + dl_get(dl, "x2", i) +
                  "," + dl_get(dl, "y2", i) + "," + json_string(dl_get(dl, "color", i)) + "," +
                  json_string(dl_get(dl, "arrow", i)) + "]";
    }
    arrows += "]";
    g_answers << "{\"arrows\":" << arrows
              << ",\"labels\":" << text_list(dl, "tx", "ty", "text", "txcolor", "textcnt")
              << ",\"times\":" << text_list(dl, "tmx", "tmy", "time", "tmcolor", "timecnt")
              << ",\"notice\":" << json_string(dl_get(dl, "lnotice")) << "}\n";
}

void answer(const std::string &request)
{
    std::istringstream in(request);
    std::string what;
    in >> what;
    if (what == "start") {
        print_view();
    } else if (what == "view") {
        double start = 0, end = 0, scale = 0;
        in >> start >> end >> scale;
        print_publication(static_cast<float>(start), static_cast<float>(end),
                          static_cast<float>(scale));
    } else if (what == "detail") {
        int j = -1;
        in >> j;
        char message[MESSAGE_SIZE];
        build_message(segment_detail_text(j, 0), message, sizeof message);
        g_answers << json_string(message) << "\n";
    } else if (what == "hover") {
        int j = -1;
        in >> j;
        g_answers << json_string(j >= 0 && j < g_trace.main.count ? segment_hover_text(j) : "")
                  << "\n";
    } else if (what == "click") {
        int x = 0, y = 0;
        in >> x >> y;
        int ya = to_pixel(static_cast<float>(g_ui.main_height) * g_ui.main_scroll +
                          static_cast<float>(y));
        g_answers << nearest_hit(x, ya) << "\n";
    } else {
        g_answers << "null\n";
    }
    g_answers.flush();
}

}  // namespace

int main(int argc, char **argv)
{
    int answers = dup(1);
    if (answers < 0 || dup2(2, 1) < 0)
        return 1;
    g_answers.open("/dev/fd/" + std::to_string(answers));
    ui_state_reset();
    if (!parse_command_line(argc, argv)) {
        std::fprintf(stderr, "publish_view: no capture file\n");
        return 1;
    }
    load_command_line_files();
    finish_command_line_load();
    set_up_views();
    std::string line;
    while (std::getline(std::cin, line))
        answer(line);
    return 0;
}
