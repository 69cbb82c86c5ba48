/*
 * graph_data.h --
 *
 *	The five graphs of the loaded connection (graph/series.h) as the
 *	report page carries them: for each graph its titles, units and series
 *	(name, colour, style), and the points of every series packed into one
 *	blob.
 */

#ifndef WIREPAINT_WEBPAGE_GRAPH_DATA_H
#define WIREPAINT_WEBPAGE_GRAPH_DATA_H

#include <cstdint>
#include <string>
#include <vector>

/*
 * graph_page_data --
 *	Builds each graph type in the default direction (with the events
 *	pass's marks) and gives the graphs' record, a JSON list, in *meta and
 *	their points' bytes in *bytes.
 */
void graph_page_data(std::string *meta, std::vector<uint8_t> *bytes);

#endif
