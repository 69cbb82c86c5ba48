/*
 * manpage_test.cpp --
 *
 *	The manual page renders through man(1) and groff without a warning,
 *	names every option of the usage text and every key of the window's
 *	Help > Keys list, and is installed to the man1 directory.
 */

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include <unistd.h>

namespace {

const std::string page = WIREPAINT_SOURCE_DIR "/man/wirepaint.1";

/* Standard output of `cmd`, with its standard error in *err. */
std::string run(const std::string &cmd, std::string *err)
{
    std::string errfile = std::string(std::filesystem::temp_directory_path() / "wirepaint-man-err-") +
                          std::to_string(getpid()) + ".txt";
    FILE *p = popen((cmd + " 2>" + errfile).c_str(), "r");
    std::string out;
    char buf[4096];
    size_t n;
    while (p && (n = std::fread(buf, 1, sizeof buf, p)) > 0)
        out.append(buf, n);
    if (p)
        pclose(p);
    std::ifstream e(errfile);
    std::stringstream s;
    s << e.rdbuf();
    *err = s.str();
    std::filesystem::remove(errfile);
    return out;
}

TEST(ManualPage, RendersWithoutWarningsAndNamesEveryOptionAndKey)
{
    std::string err;
    std::string text = run("MANWIDTH=80 man --warnings -l " + page, &err);
    EXPECT_EQ(err, "");
    run("groff -man -ww -z " + page, &err);
    EXPECT_EQ(err, "");
    ASSERT_NE(text.find("SYNOPSIS"), std::string::npos);
    /* Filled lines are justified with extra blanks: one blank each. */
    std::string flat;
    for (char ch : text) {
        if (ch == ' ' && !flat.empty() && flat.back() == ' ')
            continue;
        flat += ch;
    }
    for (const char *section : {"OPTIONS", "THE WINDOW", "COLOUR CLASSES", "EXIT STATUS", "FILES",
                                "EXAMPLES", "One-file use", "Two-file use", "REPORT PAGE"})
        EXPECT_NE(flat.find(section), std::string::npos) << section;
    for (const char *opt : {"-V", "-g", "-d", "-s", "-L", "-c", "-f", "-o", "-t", "-x", "-S", "-E", "-P", "-v", "-h"})
        EXPECT_NE(flat.find(std::string("\n ") + opt), std::string::npos) << opt;
    for (const char *key : {"Home", "End", "f or 0", "Go to a segment", "Wheel", "Middle drag",
                            "Ctrl-C", "PageUp", "Escape", "Ctrl-O", "Ctrl-L", "Ctrl-S", "Hover",
                            "Problems", "n / p", "] / ["})
        EXPECT_NE(flat.find(key), std::string::npos) << key;
    for (const char *colour : {"blue", "red", "green", "orange", "purple", "brown"})
        EXPECT_NE(flat.find(colour), std::string::npos) << colour;
}

TEST(ManualPage, IsInstalledToMan1)
{
    std::string templ = std::string(std::filesystem::temp_directory_path() / "wirepaint-install-XXXXXX");
    ASSERT_NE(mkdtemp(&templ[0]), nullptr);
    std::string prefix = templ;
    std::string err;
    run("cmake --install " WIREPAINT_BINARY_DIR " --prefix " + prefix, &err);
    EXPECT_TRUE(std::filesystem::exists(prefix + "/share/man/man1/wirepaint.1")) << err;
    EXPECT_TRUE(std::filesystem::exists(prefix + "/share/wirepaint/wirepaint.tcl")) << err;
    std::filesystem::remove_all(prefix);
}

}  // namespace
