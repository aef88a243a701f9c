// Builds natively too (sanitizers): no Windows header here.
#include "manifest/ascii.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace orvantis {
namespace {

using namespace std::string_literals;

TEST(AsciiCase, FoldsOnlyTheTwentySixLetters) {
    for (int c = 0; c < 256; ++c) {
        char in = static_cast<char>(c);
        char want = c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : in;
        EXPECT_EQ(AsciiLower(in), want) << c;
    }
    // Letters beyond ASCII keep their case: the rules must not follow a locale.
    EXPECT_EQ(AsciiLower(L'\u00c9'), L'\u00c9');
    EXPECT_EQ(AsciiLower(L'\u0130'), L'\u0130');
    EXPECT_EQ(AsciiLower(L'\u212a'), L'\u212a');  // Kelvin sign: not a 'k'
    EXPECT_EQ(AsciiLower(L'Q'), L'q');
}

TEST(AsciiCase, ComparesWholeTextsAndPrefixes) {
    const struct {
        const char* name;
        std::string a, b;
        bool same, startsWith;
    } rows[] = {
        {"same", "OrvantisKesh.exe", "OrvantisKesh.exe", true, true},
        {"case differs", "ORVANTISkesh.EXE", "orvantiskesh.exe", true, true},
        {"longer", "DataUltra/a", "DataUltra/", false, true},
        {"shorter than the prefix", "DataUltr", "DataUltra/", false, false},
        {"empty prefix", "x", "", false, true},
        {"both empty", "", "", true, true},
        {"'@' and '`' are not letters", "@[", "`{", false, false},
        {"non-ASCII bytes compared as they are", "\xc3\x89", "\xc3\xa9", false, false},
        {"zero byte inside", "a\0b"s, "A\0B"s, true, true},
        {"zero byte against its absence", "ab\0"s, "ab", false, true},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(SameIgnoringAsciiCase(row.a, row.b), row.same);
        EXPECT_EQ(StartsWithIgnoringAsciiCase(row.a, row.b), row.startsWith);
    }
    EXPECT_TRUE(SameIgnoringAsciiCase(std::wstring(L"C:\\Juegos\\A"), L"c:\\juegos\\a"));
    EXPECT_FALSE(SameIgnoringAsciiCase(std::wstring(L"\u00c9"), L"\u00e9"));
    EXPECT_TRUE(StartsWithIgnoringAsciiCase(std::wstring(L"C:\\JUEGOS\\Data\\a"), L"c:\\juegos\\"));
    EXPECT_FALSE(StartsWithIgnoringAsciiCase(std::wstring(L"C:\\Juego"), L"C:\\Juegos\\"));
}

TEST(Hex, LowerCaseDigitsOnly) {
    EXPECT_TRUE(IsLowerHex("0123456789abcdef"));
    EXPECT_TRUE(IsLowerHex(""));
    for (const std::string& bad : {"A"s, "0F"s, "g"s, " 0"s, "0x00"s, "\xc3\xa1"s, "a\0"s}) {
        SCOPED_TRACE(bad);
        EXPECT_FALSE(IsLowerHex(bad));
    }
}

TEST(Hex, DecodesPairsOrLeavesTheOutputAlone) {
    std::vector<uint8_t> out{7};
    ASSERT_TRUE(DecodeHex("00ff7F80", out));
    EXPECT_EQ(out, (std::vector<uint8_t>{0x00, 0xff, 0x7f, 0x80}));
    for (const std::string& bad : {"0"s, "0g"s, "0x"s, " 00"s, "00\0"s}) {
        SCOPED_TRACE(bad);
        std::vector<uint8_t> kept{9};
        EXPECT_FALSE(DecodeHex(bad, kept));
        EXPECT_EQ(kept, std::vector<uint8_t>{9});
    }
    EXPECT_TRUE(DecodeHex("", out));
    EXPECT_TRUE(out.empty());
}

}  // namespace
}  // namespace orvantis
