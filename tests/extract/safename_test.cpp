#include "extract/safename.hpp"

#include <gtest/gtest.h>

namespace v2bsp {
namespace {

TEST(Cp1252ToUtf8, DecodesEveryRange) {
    EXPECT_EQ(cp1252ToUtf8("plain"), "plain");
    EXPECT_EQ(cp1252ToUtf8("\x80"), "\u20AC");
    EXPECT_EQ(cp1252ToUtf8("\x81"), "\u0081");
    EXPECT_EQ(cp1252ToUtf8("\x9F"), "\u0178");
    EXPECT_EQ(cp1252ToUtf8("\xE9t\xE9"), "\u00E9t\u00E9");
    EXPECT_EQ(cp1252ToUtf8("\xFF"), "\u00FF");
}

TEST(OutputFolderName, MadeSafe) {
    struct Case {
        std::string mapname;
        std::string filename;
        std::string folder;
    };
    const Case cases[] = {
        {"example", "x.map", "example"},
        {"../../x", "x.map", "_.._x"},
        {"a/b\\c:d*e?f\"g<h>i|j", "x.map", "a_b_c_d_e_f_g_h_i_j"},
        {"tab\there\x7F", "x.map", "tab_here_"},
        {"  .name. ", "x.map", "name"},
        {"..", "beach.map", "beach"},
        {"", "beach.Map", "beach"},
        {"", ".hidden", "hidden"},
        {"", "two.dots.map", "two.dots"},
        {"", "...", "map"},
        {"", "", "map"},
        {"caf\xE9", "x.map", "caf\u00E9"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.mapname + " | " + c.filename);
        EXPECT_EQ(outputFolderName(c.mapname, c.filename), c.folder);
    }
}

}  // namespace
}  // namespace v2bsp
