/*
 * graph_data.cpp --
 *
 *	The graphs of the report page.
 */

#include "webpage/graph_data.h"

std::string graph_meta_json()
{
    return "[]";
}

std::vector<uint8_t> graph_bytes()
{
    return {};
}
