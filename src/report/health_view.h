/*
 * health_view.h --
 *
 *	The health table as the Connections dialog shows it: sorted by any
 *	column, either way, and cut to the rows whose addresses, ports or
 *	verdict hold a typed text. The dialog shows a window of rows at a
 *	time, so the view keeps only the order of the rows, and sorting or
 *	filtering 50,000 rows is one n log n sort or one scan.
 */

#ifndef WIREPAINT_REPORT_HEALTH_VIEW_H
#define WIREPAINT_REPORT_HEALTH_VIEW_H

#include <cstdint>
#include <string>
#include <vector>

#include "report/health.h"

/* The rows of one file and the order they are shown in. */
struct health_view {
    std::vector<health_row> rows;    /* as health_table gives them */
    std::vector<std::string> search; /* per row: "from to verdict", lower case */
    std::vector<int32_t> sorted;     /* indexes of every row, in the order */
    std::vector<int32_t> shown;      /* those passing the filter, in the order */
    int column;                      /* health_cell_names index sorted by */
    bool descending;                 /* that column's largest first */
    std::string filter;              /* lower-case text rows must hold; "" all */
};

/*
 * health_view_set --
 *	Takes `rows` into `v` in the opening order: worst verdict first, then
 *	by number (column "verdict", ascending), no filter.
 */
void health_view_set(health_view *v, std::vector<health_row> rows);

/*
 * health_view_sort --
 *	Orders every row by column `column` (an index of health_cell_names;
 *	numbers by value, addresses by address then port, the verdict worst
 *	first, the cause and the reason as texts, an ok's empty reason
 *	first), largest first when `descending`, rows that tie by number;
 *	keeps the filter. An unknown column sorts by number.
 */
void health_view_sort(health_view *v, int column, bool descending);

/*
 * health_view_filter --
 *	Shows only the rows whose "from to verdict" text holds `text`
 *	(without regard to case; "" shows all), in the current order.
 */
void health_view_filter(health_view *v, const std::string &text);

#endif
