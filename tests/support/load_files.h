/*
 * load_files.h --
 *
 *	The test suites' load of capture files by path, as the command line
 *	would load them: one file, or two as the ends of one connection.
 */

#ifndef WIREPAINT_TESTS_SUPPORT_LOAD_FILES_H
#define WIREPAINT_TESTS_SUPPORT_LOAD_FILES_H

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "load/loader.h"
#include "trace/trace.h"

/* Loads `paths` (one or two) with the reset flag; a fatal test failure
 * when nothing is loaded. */
inline void load_files(std::vector<std::string> paths)
{
    std::vector<char *> argv;
    for (std::string &p : paths)
        argv.push_back(&p[0]);
    load_traces(static_cast<int>(argv.size()), argv.data(), 1);
    ASSERT_EQ(g_trace.loaded, 1);
}

#endif
