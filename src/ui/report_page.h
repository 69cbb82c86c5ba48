/*
 * report_page.h --
 *
 *	The report page (webpage/webpage.h) from the interface: -o FILE.html
 *	without a window, "-L -o FILE.html" for the health table's page, and
 *	the window's File > Save report... (savereport_clib). The page starts
 *	at the view the interface has at the time of writing.
 */

#ifndef WIREPAINT_UI_REPORT_PAGE_H
#define WIREPAINT_UI_REPORT_PAGE_H

#include <string>

#include <tcl.h>

/*
 * save_report --
 *	Writes the page of the loaded connection, starting at the current
 *	view (g_ui), to `path`. 1 on success; 0 with a one-line reason in
 *	*error (also when nothing is loaded).
 */
int save_report(const std::string &path, std::string *error);

/*
 * save_health_page --
 *	Writes the health table of the `nfiles` capture files `names` as a
 *	page to `path`: every connection of every file, sortable and
 *	filterable, worst verdict first. With `pages`, also loads each
 *	connection in turn (as -c N would) and writes its own page into the
 *	folder "PATH-pages" (PATH without its extension), named
 *	"FILE-N.html", which its row links to; the last one stays loaded.
 *	1 on success; 0 with the reason in *error.
 */
int save_health_page(int nfiles, char *const names[], const std::string &path, int pages,
                     std::string *error);

/*
 * savereport_clib PATH --
 *	save_report of PATH. Result: empty on success; on failure an error
 *	(TCL_ERROR) with the reason, for the script to show.
 */
int savereport_clib(ClientData, Tcl_Interp *interp, int argc, const char *argv[]);

#endif
