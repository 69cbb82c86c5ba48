/*
 * webpage.h --
 *
 *	The report page: the loaded connection as one self-contained HTML
 *	file that a browser opens offline, with the window's ladder (its
 *	navigation, hover lines and detail popups), the graphs, the analysis
 *	events grouped as the Problems window groups them, the statistics of
 *	-S, and a header with the files, the hosts and the health figures.
 *
 *	The page holds its script and style inline (script/webpage/, built
 *	in), a Content-Security-Policy that allows those two by their
 *	SHA-256 hashes and nothing else, and its data in inert script
 *	elements: a JSON record and base64 blobs of deflated bytes
 *	(webpage/page_data.h), which the script inflates with the browser's
 *	DecompressionStream. Opening it makes no request.
 *
 *	The ladder is drawn from the same line times, with the same float
 *	arithmetic, as the window publishes it, so that a view of the page
 *	shows the arrows the window would publish for that view. Every text
 *	the page shows of a segment (hover line, popup, label) is carried as
 *	the program writes it.
 */

#ifndef WIREPAINT_WEBPAGE_WEBPAGE_H
#define WIREPAINT_WEBPAGE_WEBPAGE_H

#include <string>
#include <vector>

/* The window's geometry and start view, as the interface computed them. */
struct webpage_view {
    int main_width, main_height;   /* px, main canvas (region 2 * height) */
    int over_width, over_height;   /* px, overview canvas */
    float main_start, main_end;    /* s, the start view's main window */
    float main_scale;              /* px/s */
    float main_scroll;             /* the window's main_scroll: the canvas shows
                                    * region rows from main_scroll * height */
    float delay_unit;              /* s, the unit the views were set up with */
};

/*
 * connection_page --
 *	The page of the loaded connection (g_trace, the line list, the
 *	events) read from `files`, drawn from `view`. `conn_number` is the
 *	-c number the connection was chosen by (0: none given), for the
 *	header's health figures, which come from reading the first file
 *	again (none for standard input or a pipe, read once). Formats every segment's texts
 *	once: the side effects of segment_detail_text on each line.
 */
std::string connection_page(const std::vector<std::string> &files, const webpage_view &view,
                            int conn_number);

/*
 * page_shell --
 *	A whole page: the title, the Content-Security-Policy, the built-in
 *	style, the JSON record `meta` (its "kind" tells the script what page
 *	it is), the blob elements `blobs` and the built-in script.
 */
std::string page_shell(const std::string &title, const std::string &meta,
                       const std::string &blobs);

/*
 * write_text_file --
 *	Writes `text` to `path`. 1 on success; 0 with "cannot write PATH:
 *	reason" in *error.
 */
int write_text_file(const std::string &path, const std::string &text, std::string *error);

/*
 * is_webpage_name --
 *	Whether -o `path` asks for a page: it ends in ".html" or ".htm",
 *	in any case.
 */
bool is_webpage_name(const std::string &path);

#endif
