/*
 * connview_cmd.h --
 *
 *	The Connections dialog's view of the health table (report/
 *	health_view.h) and the script command that reads it a window of rows
 *	at a time, sorts and filters it.
 */

#ifndef WIREPAINT_UI_CONNVIEW_CMD_H
#define WIREPAINT_UI_CONNVIEW_CMD_H

#include <tcl.h>

#include <vector>

#include "report/health_view.h"

/* The dialog's rows. One instance, g_connview: set by connlist_clib
 * (connview_take), sorted and filtered by connview_clib. */
extern health_view g_connview;

/* Makes `rows` the dialog's rows, in the opening order. */
void connview_take(std::vector<health_row> rows);

/*
 * connview_clib --
 *	The script command over g_connview:
 *	    connview_clib columns          the column names
 *	    connview_clib sort COL DESC    order by column index COL, largest
 *	                                   first when DESC is 1; the rows shown
 *	    connview_clib filter TEXT      show rows holding TEXT; the rows shown
 *	    connview_clib rows FIRST N     up to N shown rows from FIRST (0 on),
 *	                                   each the list of its cells
 *	    connview_clib count            the rows shown
 *	    connview_clib order            column sorted by and 1 if descending
 *	A wrong use sets an error result.
 */
int connview_clib(ClientData, Tcl_Interp *interp, int argc, const char *argv[]);

#endif
