/*
 * graph_data.h --
 *
 *	The graphs of the loaded connection (graph/series.h) as the report
 *	page carries them: each type in both directions (the one-way delay
 *	once: it shows both), the default direction first; for each graph its
 *	titles, units, series (name, colour, style) and where its points
 *	start in the one blob that packs the points of every series.
 */

#ifndef WIREPAINT_WEBPAGE_GRAPH_DATA_H
#define WIREPAINT_WEBPAGE_GRAPH_DATA_H

#include <cstdint>
#include <string>
#include <vector>

/*
 * graph_page_data --
 *	Builds each graph type in the default direction and the other (with
 *	the events pass's marks) and gives the graphs' record, a JSON list,
 *	in *meta and their points' bytes in *bytes.
 */
void graph_page_data(std::string *meta, std::vector<uint8_t> *bytes);

#endif
