/*
 * connview_cmd.cpp --
 *
 *	The script command of the Connections dialog: the rows it shows, a
 *	window at a time, and their order and filter.
 */

#include "ui/connview_cmd.h"

#include <cstdlib>
#include <cstring>
#include <string>

health_view g_connview;

namespace {

Tcl_Obj *text_list(const std::vector<std::string> &cells)
{
    Tcl_Obj *list = Tcl_NewListObj(0, nullptr);
    for (const std::string &c : cells)
        Tcl_ListObjAppendElement(nullptr, list,
                                 Tcl_NewStringObj(c.c_str(), static_cast<int>(c.size())));
    return list;
}

/* A whole decimal number, or false. */
bool read_int(const char *text, long *out)
{
    char *end = nullptr;
    *out = std::strtol(text, &end, 10);
    return end != text && *end == '\0';
}

int shown_count(Tcl_Interp *interp)
{
    Tcl_SetObjResult(interp, Tcl_NewWideIntObj(static_cast<Tcl_WideInt>(g_connview.shown.size())));
    return TCL_OK;
}

int rows_from(Tcl_Interp *interp, long first, long n)
{
    Tcl_Obj *out = Tcl_NewListObj(0, nullptr);
    const std::vector<int32_t> &shown = g_connview.shown;
    for (long i = first < 0 ? 0 : first; i < first + n && i < static_cast<long>(shown.size()); i++) {
        size_t at = static_cast<size_t>(shown[static_cast<size_t>(i)]);
        Tcl_ListObjAppendElement(nullptr, out,
                                 text_list(health_cells(g_connview.rows[at], at + 1)));
    }
    Tcl_SetObjResult(interp, out);
    return TCL_OK;
}

int usage(Tcl_Interp *interp)
{
    Tcl_SetResult(interp,
                  const_cast<char *>("usage: connview_clib columns|count|order|sort COL DESC|"
                                     "filter TEXT|rows FIRST N"),
                  TCL_STATIC);
    return TCL_ERROR;
}

}  // namespace

void connview_take(std::vector<health_row> rows)
{
    health_view_set(&g_connview, std::move(rows));
}

int connview_clib(ClientData, Tcl_Interp *interp, int argc, const char *argv[])
{
    if (argc < 2)
        return usage(interp);
    std::string what = argv[1];
    long a = 0, b = 0;
    if (what == "columns" && argc == 2) {
        Tcl_SetObjResult(interp, text_list(std::vector<std::string>(
                                     health_cell_names, health_cell_names + health_cell_count)));
        return TCL_OK;
    }
    if (what == "count" && argc == 2)
        return shown_count(interp);
    if (what == "order" && argc == 2) {
        Tcl_SetObjResult(interp, text_list({std::to_string(g_connview.column),
                                            g_connview.descending ? "1" : "0"}));
        return TCL_OK;
    }
    if (what == "sort" && argc == 4 && read_int(argv[2], &a) && read_int(argv[3], &b) && a >= 0 &&
        a < health_cell_count) {
        health_view_sort(&g_connview, static_cast<int>(a), b != 0);
        return shown_count(interp);
    }
    if (what == "filter" && argc == 3) {
        health_view_filter(&g_connview, argv[2]);
        return shown_count(interp);
    }
    if (what == "rows" && argc == 4 && read_int(argv[2], &a) && read_int(argv[3], &b))
        return rows_from(interp, a, b);
    return usage(interp);
}
