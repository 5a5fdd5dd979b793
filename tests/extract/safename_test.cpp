#include "extract/safename.hpp"

#include <gtest/gtest.h>

#include "extract/uppercase.hpp"

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
        {"NUL  .x", "x.map", "NUL_  .x"},
        {"CON .level", "x.map", "CON_ .level"},
        {"", "aux .part.map", "aux_ .part"},
        {"conin$", "x.map", "conin$_"},
        {"CONOUT$.obj", "x.map", "CONOUT$_.obj"},
        {"COM\xB9", "x.map", "COM\u00B9_"},
        {"lpt\xB2.x", "x.map", "lpt\u00B2_.x"},
        {"", "LPT\u00B3.map", "LPT\u00B3_"},
        {"NUL x", "x.map", "NUL x"},
        {" CON", "x.map", "CON_"},
        {"CONIN", "x.map", "CONIN"},
        {"CONOUT$$", "x.map", "CONOUT$$"},
        {"COM\xBC", "x.map", "COM\u00BC"},
        {"COM\xB9\xB9", "x.map", "COM\u00B9\u00B9"},
        {"", "caf\xE9.map", "caf_"},
        {"", "\xED\xA0\x80x\xC0\xAF.map", "___x__"},
        {"", "\u03A9\U0001F600.map", "\u03A9\U0001F600"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.mapname + " | " + c.filename);
        EXPECT_EQ(outputFolderName(c.mapname, c.filename), c.folder);
    }
}

// Names that a file system ignoring case takes for one folder have one key.
TEST(CaseKey, FoldsAsWindowsComparesNames) {
    const std::pair<std::string, std::string> same[] = {
        {"Level", "level"},
        {"\u00C9T\u00C9", "\u00E9t\u00E9"},
        {"\u0152uvre", "\u0153uvre"},
        {"\u0160\u017D\u0178", "\u0161\u017E\u00FF"},
        {"\u03A3\u03C3\u03C2", "\u03C3\u03A3\u03A3"},
        {"\u0414", "\u0434"},
        {"\u0141\u00F3d\u017A", "\u0142\u00D3D\u0179"},
        {"\u01C4\u01C5", "\u01C6\u01C6"},
        {"\uFF41", "\uFF21"},
    };
    for (const auto& [a, b] : same) EXPECT_EQ(caseKey(a), caseKey(b)) << a;
    const std::pair<std::string, std::string> different[] = {
        {"a_b", "a.b"},
        {"\u00D7", "\u00F7"},
        {"\xC3", "\xE3"},
        {"level1", "level"},
        {"\u00DF", "SS"},              // no single uppercase letter
        {"\U00010428", "\U00010400"},  // beyond the Basic Multilingual Plane
        {"\u0130", "i"}};
    for (const auto& [a, b] : different) EXPECT_NE(caseKey(a), caseKey(b)) << a;
}

// The lookup relies on the generated table being sorted, each letter once,
// and on an uppercase letter having no uppercase of its own.
TEST(UppercaseTable, SortedAndFinal) {
    const std::span<const UpperCase> table = uppercaseTable();
    ASSERT_GT(table.size(), 1000u);
    for (std::size_t i = 0; i < table.size(); ++i) {
        SCOPED_TRACE(static_cast<unsigned>(table[i].letter));
        if (i > 0) {
            EXPECT_LT(table[i - 1].letter, table[i].letter);
        }
        EXPECT_NE(table[i].letter, table[i].upper);
        EXPECT_EQ(uppercaseOf(table[i].upper), table[i].upper);
        EXPECT_EQ(uppercaseOf(table[i].letter), table[i].upper);
    }
}

}  // namespace
}  // namespace v2bsp
