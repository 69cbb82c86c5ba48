/*
 * readback.h --
 *
 *	Test support: reads a capture file through the real reader from a
 *	clean trace state and returns what the decoder reported on standard
 *	output.
 */

#ifndef WIREPAINT_TESTS_READBACK_H
#define WIREPAINT_TESTS_READBACK_H

#include <gtest/gtest.h>

#include <string>

#include "trace/binread.h"
#include "trace/trace.h"

namespace readback {

/* Reads `path` from a clean state; returns what the decoder wrote on stdout. */
inline std::string read_clean(const std::string &path)
{
    trace_state_clear();
    testing::internal::CaptureStdout();
    read_capture(path.c_str());
    return testing::internal::GetCapturedStdout();
}

}  // namespace readback

#endif
