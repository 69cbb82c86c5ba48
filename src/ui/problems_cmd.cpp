/*
 * problems_cmd.cpp --
 *
 *	problems_clib: the Problems window's rows and the event search, as Tcl
 *	lists.
 */

#include "ui/problems_cmd.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "analysis/events.h"
#include "analysis/line.h"
#include "report/event_list.h"
#include "report/problems.h"
#include "text/detail.h"
#include "trace/trace.h"

namespace {

Tcl_Obj *text_obj(const std::string &s)
{
    return Tcl_NewStringObj(s.c_str(), static_cast<int>(s.size()));
}

Tcl_Obj *kinds_list(Tcl_Interp *interp)
{
    Tcl_Obj *out = Tcl_NewListObj(0, nullptr);
    for (const problem_row &r : problem_rows()) {
        Tcl_Obj *row[3] = {text_obj(event_kind_names[r.kind]),
                           Tcl_NewWideIntObj(static_cast<Tcl_WideInt>(r.count)),
                           text_obj(r.warning ? "warning" : "note")};
        Tcl_ListObjAppendElement(interp, out, Tcl_NewListObj(3, row));
    }
    return out;
}

Tcl_Obj *segments_list(Tcl_Interp *interp, int kind)
{
    uint16_t mask = static_cast<uint16_t>(1u << kind);
    Tcl_Obj *out = Tcl_NewListObj(0, nullptr);
    for (int32_t n = find_event(0, 1, mask); n != 0; n = find_event(n, 1, mask)) {
        char time[32];
        std::snprintf(time, sizeof time, "%.6f",
                      static_cast<double>(g_trace.main.rec[n - 1].time));
        Tcl_Obj *row[5] = {Tcl_NewIntObj(n), text_obj(time),
                           text_obj(g_trace.lines[n - 1].dir == 1 ? "L>R" : "R>L"),
                           text_obj(event_detail(n - 1, kind)),
                           text_obj(segment_detail_text(n - 1, 1))};
        Tcl_ListObjAppendElement(interp, out, Tcl_NewListObj(5, row));
    }
    return out;
}

}  // namespace

int problems_clib(ClientData, Tcl_Interp *interp, int argc, const char *argv[])
{
    Tcl_ResetResult(interp);
    if (argc < 2 || !g_trace.loaded || g_trace.lines == nullptr || g_events.seg.empty())
        return TCL_OK;
    std::string what = argv[1];
    if (what == "kinds") {
        Tcl_SetObjResult(interp, kinds_list(interp));
    } else if (what == "segments" && argc >= 3) {
        for (int k = 0; k < EVENT_KINDS; k++)
            if (std::strcmp(argv[2], event_kind_names[k]) == 0)
                Tcl_SetObjResult(interp, segments_list(interp, k));
    } else if ((what == "next" || what == "prev") && argc >= 4) {
        uint16_t mask = event_mask_named(argv[3]);
        int32_t n = find_event(std::atoi(argv[2]), what == "next" ? 1 : -1, mask);
        if (mask != 0 && n != 0) {
            Tcl_Obj *pair[2] = {Tcl_NewIntObj(n), text_obj(event_line_text(n, mask))};
            Tcl_SetObjResult(interp, Tcl_NewListObj(2, pair));
        }
    }
    return TCL_OK;
}
