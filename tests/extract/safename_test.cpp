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
        {"a\x81"
         "b\x8D\x8F\x90\x9D"
         "c\x80",
         "x.map", "a_b____c\u20AC"},
        {"CON", "x.map", "CON_"},
        {"nul.level", "x.map", "nul_.level"},
        {"LPT1.x.y", "x.map", "LPT1_.x.y"},
        {"com9", "x.map", "com9_"},
        {"Aux. ", "x.map", "Aux_"},
        {"", "prn.map", "prn_"},
        {"CONx", "x.map", "CONx"},
        {"COM0", "x.map", "COM0"},
        {"LPT10", "x.map", "LPT10"},
        {"xNUL", "x.map", "xNUL"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.mapname + " | " + c.filename);
        EXPECT_EQ(outputFolderName(c.mapname, c.filename), c.folder);
    }
}

// Names that a file system ignoring case takes for one folder have one key.
TEST(CaseKey, FoldsTheLettersOfMapNames) {
    const std::pair<std::string, std::string> same[] = {
        {"Level", "level"},
        {"\u00C9T\u00C9", "\u00E9t\u00E9"},
        {"\u0152uvre", "\u0153uvre"},
        {"\u0160\u017D\u0178", "\u0161\u017E\u00FF"},
    };
    for (const auto& [a, b] : same) EXPECT_EQ(caseKey(a), caseKey(b)) << a;
    const std::pair<std::string, std::string> different[] = {
        {"a_b", "a.b"}, {"\u00D7", "\u00F7"}, {"\xC3", "\xE3"}, {"level1", "level"}};
    for (const auto& [a, b] : different) EXPECT_NE(caseKey(a), caseKey(b)) << a;
}

}  // namespace
}  // namespace v2bsp
