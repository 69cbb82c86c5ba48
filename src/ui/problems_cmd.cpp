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

/*
 * The rows of segments with event `kind` whose text ("N time dir detail
 * summary") matches the glob `pattern` (case-insensitive; "" matches
 * all), at most `most` of them; then one more element, 1 when more rows
 * would match and 0 otherwise. Summary lines are made only for the rows
 * looked at.
 */
Tcl_Obj *segments_list(Tcl_Interp *interp, int kind, const char *pattern, int most)
{
    uint16_t mask = static_cast<uint16_t>(1u << kind);
    Tcl_Obj *out = Tcl_NewListObj(0, nullptr);
    int shown = 0;
    for (int32_t n = find_event(0, 1, mask); n != 0; n = find_event(n, 1, mask)) {
        char time[32];
        std::snprintf(time, sizeof time, "%.6f",
                      static_cast<double>(g_trace.main.rec[n - 1].time));
        std::string detail = event_detail(n - 1, kind);
        std::string summary = segment_detail_text(n - 1, 1);
        const char *dir = g_trace.lines[n - 1].dir == 1 ? "L>R" : "R>L";
        if (pattern[0] != '\0') {
            std::string text = std::to_string(n) + " " + time + " " + dir + " " + detail + " " +
                               summary;
            if (!Tcl_StringCaseMatch(text.c_str(), pattern, TCL_MATCH_NOCASE))
                continue;
        }
        if (shown == most) {
            Tcl_ListObjAppendElement(interp, out, Tcl_NewIntObj(1));
            return out;
        }
        shown++;
        Tcl_Obj *row[5] = {Tcl_NewIntObj(n), text_obj(time), text_obj(dir), text_obj(detail),
                           text_obj(summary)};
        Tcl_ListObjAppendElement(interp, out, Tcl_NewListObj(5, row));
    }
    Tcl_ListObjAppendElement(interp, out, Tcl_NewIntObj(0));
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
        const char *pattern = argc >= 4 ? argv[3] : "";
        int most = argc >= 5 ? std::atoi(argv[4]) : 1000;
        for (int k = 0; k < EVENT_KINDS; k++)
            if (std::strcmp(argv[2], event_kind_names[k]) == 0)
                Tcl_SetObjResult(interp, segments_list(interp, k, pattern, most < 0 ? 0 : most));
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
