/*
 * health_page.h --
 *
 *	The health table (report/health.h) of one or more capture files as a
 *	report page: one row a connection with the cells the Connections
 *	dialog shows, sortable by any column, filterable by address, port or
 *	verdict, worst verdict first, each row linking to the connection's
 *	own page when one was written beside it.
 */

#ifndef WIREPAINT_WEBPAGE_HEALTH_PAGE_H
#define WIREPAINT_WEBPAGE_HEALTH_PAGE_H

#include <string>
#include <vector>

#include "report/health.h"

/* The rows of one capture file. */
struct health_file {
    std::string name;              /* the file as named on the command line */
    std::vector<health_row> rows;  /* health_table's rows, in -L order */
};

/*
 * health_page --
 *	The page of `files`. `links`, when not empty, holds for each file
 *	and row in order the relative address of its connection's page ("" for
 *	none).
 */
std::string health_page(const std::vector<health_file> &files,
                        const std::vector<std::vector<std::string>> &links = {});

#endif
