/*
 * report_page.cpp --
 *
 *	The report pages written from the command line and the window.
 */

#include "ui/report_page.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>

#include "load/choose.h"
#include "load/loader.h"
#include "report/health.h"
#include "trace/trace.h"
#include "ui/cmdline.h"
#include "ui/output.h"
#include "ui/ui_state.h"
#include "webpage/health_page.h"
#include "webpage/webpage.h"

namespace {

webpage_view current_view()
{
    webpage_view v;
    v.main_width = g_ui.main_width;
    v.main_height = g_ui.main_height;
    v.over_width = g_ui.over_width;
    v.over_height = g_ui.over_height;
    v.main_start = g_ui.main_start;
    v.main_end = g_ui.main_end;
    v.main_scale = g_ui.main_scale;
    v.main_scroll = g_ui.main_scroll;
    v.delay_unit = g_ui.delay_unit;
    return v;
}

}  // namespace

int save_report(const std::string &path, std::string *error)
{
    if (!g_trace.loaded || g_trace.lines == nullptr || !ui_view_ready()) {
        *error = "nothing is loaded";
        return 0;
    }
    return write_text_file(path, connection_page(loaded_file_names(), current_view(),
                                                 g_cmdconn.number),
                           error);
}

namespace {

std::string base_name_of(const std::string &path)
{
    size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

/* Each connection of file `name` (rows of it) loaded and written into
 * `folder`; `links` gets each page's address relative to the table's. */
int write_connection_pages(char *name, size_t rows, const std::string &folder,
                           const std::string &relative, std::vector<std::string> *links,
                           std::string *error)
{
    for (size_t i = 0; i < rows; i++) {
        int number = static_cast<int>(i + 1);
        choose_connection(1, &name, number);
        load_traces(1, &name, 1);
        set_up_views();
        std::string page = base_name_of(name) + "-" + std::to_string(number) + ".html";
        if (!write_text_file(folder + "/" + page,
                             connection_page({name}, current_view(), number), error))
            return 0;
        links->push_back(relative + "/" + page);
    }
    return 1;
}

}  // namespace

int save_health_page(int nfiles, char *const names[], const std::string &path, int pages,
                     std::string *error)
{
    std::vector<health_file> files;
    for (int i = 0; i < nfiles; i++)
        files.push_back({names[i], health_table(names[i])});
    std::vector<std::vector<std::string>> links;
    if (pages) {
        size_t dot = path.find_last_of('.');
        std::string folder = path.substr(0, dot) + "-pages";
        if (mkdir(folder.c_str(), 0777) != 0 && errno != EEXIST) {
            *error = "cannot make " + folder + ": " + std::strerror(errno);
            return 0;
        }
        for (int i = 0; i < nfiles; i++) {
            links.emplace_back();
            if (!write_connection_pages(names[i], files[i].rows.size(), folder,
                                        base_name_of(folder), &links.back(), error))
                return 0;
        }
    }
    return write_text_file(path, health_page(files, links), error);
}

int savereport_clib(ClientData, Tcl_Interp *interp, int argc, const char *argv[])
{
    Tcl_ResetResult(interp);
    if (argc < 2) {
        Tcl_SetObjResult(interp,
                         Tcl_NewStringObj("wrong # args: should be \"savereport_clib path\"", -1));
        return TCL_ERROR;
    }
    std::string error;
    if (!save_report(argv[1], &error)) {
        Tcl_SetObjResult(interp, Tcl_NewStringObj(error.c_str(), -1));
        return TCL_ERROR;
    }
    return TCL_OK;
}
