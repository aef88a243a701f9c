// Builds natively too (sanitizers): no Windows header here.
#include "manifest/cache_line.h"

#include <gtest/gtest.h>

#include <string>

namespace orvantis {
namespace {

const std::string kSha = "2cf24dba5fb0a30e26e83b2ac5b9e29e1b161e5c1fa7425e73043362938b9824";

TEST(FormatCacheLine, WritesTabSeparatedFieldsAndOneLineFeed) {
    Cached record{5, 133497000000000000ull, kSha};
    EXPECT_EQ(FormatCacheLine("Data/a b.txt", record), "5\t133497000000000000\t" + kSha + "\tData/a b.txt\n");
    EXPECT_EQ(FormatCacheLine("x", Cached{0, 0, ""}), "0\t0\t\tx\n");
    EXPECT_EQ(FormatCacheLine("m", Cached{UINT64_MAX, UINT64_MAX, kSha}),
              "18446744073709551615\t18446744073709551615\t" + kSha + "\tm\n");
}

TEST(ParseCacheLine, ReadsBackWhatWasWritten) {
    const struct {
        const char* name;
        std::string path;
        Cached record;
    } rows[] = {
        {"plain", "Main.exe", {5, 1, kSha}},
        {"blanks and tabs inside", "Data/My Files/a  b\tc.txt", {7, 2, kSha}},
        {"trailing blank", "Data/x ", {0, 3, kSha}},
        {"non-ASCII", "Datos/ca\xc3\xb1\xc3\xb3n.txt", {9, 4, kSha}},
        {"largest numbers", "m", {UINT64_MAX, UINT64_MAX, kSha}},
        {"longest path that fits", std::string(1599, 'p'), {1, 1, kSha}},
        {"digest of 79 bytes", "d", {1, 1, std::string(79, 'f')}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        std::string line = FormatCacheLine(row.path, row.record);
        std::string path;
        Cached got;
        ASSERT_TRUE(ParseCacheLine(line.c_str(), path, got));
        EXPECT_EQ(path, row.path);
        EXPECT_EQ(got.size, row.record.size);
        EXPECT_EQ(got.writeTime, row.record.writeTime);
        EXPECT_EQ(got.sha256, row.record.sha256);
    }
}

TEST(ParseCacheLine, ToleratesLineEndsAndExtraWhitespace) {
    const struct {
        const char* name;
        const char* line;
        const char* path;
    } rows[] = {
        {"carriage return before the line feed", "5\t7\tabc\tData/a.txt\r\n", "Data/a.txt"},
        {"no line feed at the end of the file", "5\t7\tabc\tData/a.txt", "Data/a.txt"},
        {"blanks instead of tabs", "5 7 abc Data/a.txt\n", "Data/a.txt"},
        {"blanks at the start of the path are absorbed", "5\t7\tabc\t   Data/a.txt\n", "Data/a.txt"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        std::string path;
        Cached got;
        ASSERT_TRUE(ParseCacheLine(row.line, path, got));
        EXPECT_EQ(path, row.path);
        EXPECT_EQ(got.size, 5u);
        EXPECT_EQ(got.writeTime, 7u);
        EXPECT_EQ(got.sha256, "abc");
    }
}

TEST(ParseCacheLine, SkipsLinesWithoutFourFields) {
    const struct {
        const char* name;
        const char* line;
    } rows[] = {
        {"empty", ""},
        {"line feed only", "\n"},
        {"garbage", "garbage\n"},
        {"binary", "\x01\x02\xff\xfe\n"},
        {"three fields", "5\t7\tabc\n"},
        {"three fields and a tab", "5\t7\tabc\t\n"},
        {"size not a number", "x\t7\tabc\tData/a\n"},
        {"write time not a number", "5\tx\tabc\tData/a\n"},
        {"two numbers only", "5\t7\n"},
        {"a line cut short in the digest", "5\t7\t2cf24dba5f"},
        // An empty digest leaves two tabs in a row; the path then fills the digest field.
        {"record without a digest", "5\t7\t\tData/a.txt\n"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        std::string path = "untouched";
        Cached got;
        EXPECT_FALSE(ParseCacheLine(row.line, path, got));
    }
}

TEST(ParseCacheLine, CutsOverlongFieldsInsteadOfOverrunning) {
    std::string path;
    Cached got;
    std::string longPath = "5\t7\tabc\t" + std::string(1700, 'p') + "\n";
    ASSERT_TRUE(ParseCacheLine(longPath.c_str(), path, got));
    EXPECT_EQ(path, std::string(1599, 'p'));

    // A digest field longer than 79 bytes: the rest of it runs into the path.
    std::string longSha = "5\t7\t" + std::string(100, 'f') + "\tx\n";
    ASSERT_TRUE(ParseCacheLine(longSha.c_str(), path, got));
    EXPECT_EQ(got.sha256, std::string(79, 'f'));
    EXPECT_EQ(path, std::string(21, 'f') + "\tx");
}

}  // namespace
}  // namespace orvantis
