/*
 * report_fixture.h --
 *
 *	Shared set-up of the report tests: a fresh trace state around each
 *	test and a load of sample captures through the real loader.
 */

#ifndef WIREPAINT_TESTS_REPORT_FIXTURE_H
#define WIREPAINT_TESTS_REPORT_FIXTURE_H

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "load/loader.h"
#include "support/load_files.h"
#include "trace/trace.h"

namespace reporttest {

/* Loads the examples/ captures `names` (one or two) with the reset flag. */
inline void load_samples(std::vector<std::string> names)
{
    for (std::string &n : names)
        n = WIREPAINT_SOURCE_DIR "/examples/" + n;
    load_files(names);
}

class loaded : public ::testing::Test {
protected:
    void SetUp() override { trace_state_clear(); }
    void TearDown() override { trace_state_clear(); }
};

}  // namespace reporttest

#endif
