// Compiled-in UTF-8 paths in the forms the Windows calls read.
#include <gtest/gtest.h>

#include <string>

#include <windows.h>

#include "test_support.h"

namespace {

using tavro_test::PathStatus;

struct PathCase {
    const char *name;
    const char *utf8;
    size_t ansi_room; // the ANSI buffer's size
    PathStatus wide, ansi;
    const wchar_t *text; // what both forms say, for PATH_OK
};

const PathCase kCases[] = {
    {"Japanese, blank, parentheses, apostrophe, ampersand", "Z:/作業 フォルダ/it's & (1)/a.exe", MAX_PATH,
     tavro_test::PATH_OK, tavro_test::PATH_OK, L"Z:/作業 フォルダ/it's & (1)/a.exe"},
    // The last character takes two bytes in code page 932: the zero must still fit.
    {"exactly fits", "Z:/表", 6, tavro_test::PATH_OK, tavro_test::PATH_OK, L"Z:/表"},
    {"one byte short", "Z:/表", 5, tavro_test::PATH_OK, tavro_test::PATH_TOO_LONG, nullptr},
    // A best fit would make it "cafe", another folder.
    {"a letter code page 932 lacks", "Z:/café/a.bin", MAX_PATH, tavro_test::PATH_OK, tavro_test::PATH_NOT_IN_ANSI,
     nullptr},
    {"not UTF-8", "Z:/\x83\x65\x83\x58\x83\x67", MAX_PATH, tavro_test::PATH_NOT_UTF8, tavro_test::PATH_NOT_UTF8,
     nullptr},
};

TEST(Paths, EachCallGetsItsFormOrTheTestSaysWhyNot)
{
    ASSERT_EQ(GetACP(), 932u) << "the suite runs with LC_ALL=ja_JP.UTF-8";
    for (const PathCase &c : kCases) {
        SCOPED_TRACE(c.name);
        wchar_t wide[MAX_PATH];
        char ansi[MAX_PATH];
        ASSERT_LE(c.ansi_room, sizeof ansi);
        EXPECT_EQ(tavro_test::wide_path(c.utf8, wide, MAX_PATH), c.wide);
        EXPECT_EQ(tavro_test::ansi_path(c.utf8, ansi, c.ansi_room), c.ansi);
        if (c.text != nullptr) {
            EXPECT_EQ(std::wstring(wide), c.text);
            char want[MAX_PATH];
            ASSERT_GT(WideCharToMultiByte(932, 0, c.text, -1, want, sizeof want, nullptr, nullptr), 0);
            EXPECT_EQ(std::string(ansi), want);
        } else {
            EXPECT_STREQ(ansi, "") << "nothing half-converted";
            std::string line = tavro_test::path_problem(c.utf8, c.ansi);
            EXPECT_EQ(line.find(c.utf8), 0u) << line;
            EXPECT_EQ(line.find('\n'), std::string::npos) << line;
        }
    }
    EXPECT_EQ(tavro_test::path_problem("Z:/a", tavro_test::PATH_OK), "");
}

} // namespace
