/*
 * health_page.cpp --
 *
 *	The health table as a page: the cells as the Connections dialog
 *	shows them and each row's verdict number, in one JSON record which
 *	the page's script sorts and filters.
 */

#include "webpage/health_page.h"

#include "webpage/page_data.h"
#include "webpage/webpage.h"

std::string health_page(const std::vector<health_file> &files,
                        const std::vector<std::vector<std::string>> &links)
{
    std::string names = "[";
    for (int i = 0; i < health_cell_count; i++)
        names += (i ? "," : "") + json_string(health_cell_names[i]);
    names += "]";
    std::string file_list = "[";
    std::string rows = "[";
    bool first = true;
    for (size_t f = 0; f < files.size(); f++) {
        file_list += (f ? "," : "") + json_string(files[f].name);
        for (size_t i = 0; i < files[f].rows.size(); i++) {
            const health_row &r = files[f].rows[i];
            std::string row = "[" + std::to_string(f) + "," +
                              std::to_string(r.health.verdict) + ",";
            std::string link = f < links.size() && i < links[f].size() ? links[f][i] : "";
            row += json_string(link);
            for (const std::string &cell : health_cells(r, i + 1))
                row += "," + json_string(cell);
            rows += (first ? "" : ",\n") + row + "]";
            first = false;
        }
    }
    file_list += "]";
    rows += "]";
    std::string verdicts = "[";
    for (int v = 0; v < VERDICTS; v++)
        verdicts += (v ? "," : "") + json_string(verdict_names[v]);
    verdicts += "]";
    std::string meta = "{\"kind\":\"health\",\"files\":" + file_list + ",\"names\":" + names +
                       ",\"verdicts\":" + verdicts + ",\"rows\":" + rows + "}";
    std::string title = "wirepaint: connections of " +
                        (files.empty() ? std::string("no file") : files[0].name);
    return page_shell(title, meta, "");
}
