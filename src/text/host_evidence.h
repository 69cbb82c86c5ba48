/*
 * host_evidence.h --
 *
 *	The one line that says which end the capture was taken at and what
 *	told it (analysis/left_host.h), as -S, -V and the Statistics window
 *	show it.
 */

#ifndef WIREPAINT_TEXT_HOST_EVIDENCE_H
#define WIREPAINT_TEXT_HOST_EVIDENCE_H

#include <string>

/*
 * capture_host_line --
 *	"Capture host:    ADDRESS (EVIDENCE)\n" for the left host of the
 *	lines in g_trace.lines and the rule g_capture_host names; "" when
 *	nothing is loaded or no rule decided. No side effects.
 */
std::string capture_host_line();

#endif
