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
 * graph_meta_json, graph_bytes --
 *	The graphs' record (a JSON list) and their points' bytes, built from
 *	one build_graph of each type in the default direction. Both describe
 *	the same graphs; call the first, then the second.
 */
std::string graph_meta_json();
std::vector<uint8_t> graph_bytes();

#endif
