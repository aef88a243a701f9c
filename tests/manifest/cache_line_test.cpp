// Builds natively too (sanitizers): no Windows header here.
#include "manifest/cache_line.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <iterator>
#include <string>

namespace orvantis {
namespace {

using namespace std::string_literals;

const std::string kSha = "2cf24dba5fb0a30e26e83b2ac5b9e29e1b161e5c1fa7425e73043362938b9824";

// How the cache was read before the parser was written by hand. Built for Windows this is
// the launcher's own C library (MinGW's scanf, run under Wine); built natively it is glibc's.
bool ScanfParse(const char* line, std::string& path, Cached& out) {
    unsigned long long size = 0, writeTime = 0;
    char sha[80];
    char name[1600];
    if (sscanf(line, "%llu\t%llu\t%79s\t%1599[^\r\n]", &size, &writeTime, sha, name) != 4) return false;
    path = name;
    out = Cached{size, writeTime, sha};
    return true;
}

TEST(FormatCacheLine, WritesTabSeparatedFieldsAndOneLineFeed) {
    Cached record{5, 133497000000000000ull, kSha};
    EXPECT_EQ(FormatCacheLine("Data/a b.txt", record), "5\t133497000000000000\t" + kSha + "\tData/a b.txt\n");
    EXPECT_EQ(FormatCacheLine("x", Cached{0, 0, ""}), "0\t0\t\tx\n");
    EXPECT_EQ(FormatCacheLine("m", Cached{UINT64_MAX, UINT64_MAX, kSha}),
              "18446744073709551615\t18446744073709551615\t" + kSha + "\tm\n");
}

// How lines were written before the formatter was written by hand.
std::string SnprintfLine(const std::string& path, const Cached& record) {
    char line[4096];
    snprintf(line, sizeof line, "%llu\t%llu\t%s\t%s\n", static_cast<unsigned long long>(record.size),
             static_cast<unsigned long long>(record.writeTime), record.sha256.c_str(), path.c_str());
    return line;
}

TEST(FormatCacheLine, WritesWhatTheCLibraryFormatWrote) {
    const struct {
        const char* name;
        std::string path;
        Cached record;
    } rows[] = {
        {"zeros", "a", {0, 0, kSha}},
        {"powers of ten", "Data/b", {1000000000000000000ull, 10, kSha}},
        {"one below", "c", {999999999999999999ull, 9, kSha}},
        {"largest", "d", {UINT64_MAX, UINT64_MAX - 1, kSha}},
        {"empty digest", "e", {1, 2, ""}},
        {"zero byte in the path ends it", std::string("f\0g", 3), {3, 4, kSha}},
        {"zero byte in the digest ends it", "h", {5, 6, std::string("ab\0cd", 5)}},
        {"long path", std::string(1500, 'p'), {7, 8, kSha}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(FormatCacheLine(row.path, row.record), SnprintfLine(row.path, row.record));
    }
    std::string both;
    AppendCacheLine(both, "x", Cached{1, 2, kSha});
    AppendCacheLine(both, "y", Cached{3, 4, kSha});
    EXPECT_EQ(both, SnprintfLine("x", Cached{1, 2, kSha}) + SnprintfLine("y", Cached{3, 4, kSha}));
}

// Lines are cut where fgets into a 2048-byte buffer stopped.
TEST(CacheLineLength, CutsWhereALineByLineReadStopped) {
    const std::string full(kCacheLinePiece, 'x');
    const struct {
        const char* name;
        std::string data;
        size_t want;
    } rows[] = {
        {"nothing", "", 0},
        {"through the line feed", "ab\ncd\n", 3},
        {"empty line", "\nab", 1},
        {"a part line at the end", "abc", 3},
        {"a full buffer without a line feed", full + "y\n", kCacheLinePiece},
        {"line feed as the last byte that fits", full.substr(1) + "\n", kCacheLinePiece},
        {"line feed one past what fits", full + "\n", kCacheLinePiece},
        {"zero bytes are plain bytes", std::string("a\0b\nc", 5), 4},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(CacheLineLength(row.data), row.want);
    }
}

// A whole file as the loader reads it: a long line goes on as lines of its own, a zero byte
// ends its line, and the later of two lines for one path wins.
TEST(ParseCacheText, ReadsEveryLineAsALineByLineReadDid) {
    const std::string head = "1\t1\t" + kSha + "\t";
    const std::string longLine = head + std::string(2047 - head.size(), 'p') + "2\t2\tab\tinjected\n";
    const std::string text = longLine + "3\t3\tcd\tzero\0ends\tit\n"s + "4\t4\tef\tafter\r\n" +
                             "garbage\n" + "5\t5\tgh\tzero\n" + "6\t6\tij\tno line feed";
    Cache cache = ParseCacheText(text);
    const struct {
        std::string path;
        uint64_t number;
        std::string sha;
    } want[] = {  // in the map's byte order
        {"after", 4, "ef"},
        {"injected", 2, "ab"},
        {"no line feed", 6, "ij"},
        {std::string(1599, 'p'), 1, kSha},
        {"zero", 5, "gh"},
    };
    ASSERT_EQ(cache.size(), std::size(want));
    auto it = cache.begin();
    for (const auto& w : want) {
        SCOPED_TRACE(w.path.substr(0, 20));
        EXPECT_EQ(it->first, w.path);
        EXPECT_EQ(it->second.size, w.number);
        EXPECT_EQ(it->second.writeTime, w.number);
        EXPECT_EQ(it->second.sha256, w.sha);
        ++it;
    }
    EXPECT_TRUE(ParseCacheText("").empty());
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

// Every line a cache written by an older launcher (or damaged on disk) could hold is read
// exactly as scanf read it: same verdict, same fields.
TEST(ParseCacheLine, ReadsEveryLineAsScanfDid) {
    const std::string f79(79, 'f'), f80(80, 'f'), p1599(1599, 'p');
    const std::string rows[] = {
        "5\t7\tabc\tData/a.txt\n",
        " \t 5 \t\t 7abc Data/a.txt",
        "5\n7\nabc\nData/a.txt\n",
        "5\v7\fabc\r\tpath\rrest\n",
        "+5\t+7\tabc\tp\n",
        "-1\t-5\tabc\tp\n",
        "-0\t+0\ta\tp\n",
        "0005\t007\ta\tp\n",
        "18446744073709551615\t18446744073709551614\ta\tp\n",
        "18446744073709551616\t1\ta\tp\n",
        "1\t99999999999999999999999999999\ta\tp\n",
        "-18446744073709551615\t1\ta\tp\n",
        "-18446744073709551616\t1\ta\tp\n",
        "5-3 a p\n",
        "5+3 a p\n",
        "- 5\t7\ta\tp\n",
        "+-5\t7\ta\tp\n",
        "5\t-\ta\tp\n",
        "1e5\t7\ta\tp\n",
        "0x10\t7\ta\tp\n",
        "5x\t7\ta\tp\n",
        "5\t7\tabc\n",
        "5\t7\tabc \r\n",
        "5\t7\tabc\t \t\r\n",
        "5\t7\t\r\n",
        "5\t7",
        "5",
        "",
        " \t\r\n",
        "5\t7\tabc\t\rpath\n",
        "5\t7\tabc\t\x01path\n",
        "5\t7\t\x7f\t\x80\n",
        "5\xa0" "7\tabc\tp\n",
        "5\t7\ta\xa0" "b\tp\n",
        "5\t7\tabc\xa0path\n",
        "5\t7\tabc\t\xa0\x85path \t\n",
        "5\t7\t" + f79 + "\tpath\n",
        "5\t7\t" + f79 + "\r\n",
        "5\t7\t" + f80 + "\n",
        "5\t7\t" + f80 + "\tpath\n",
        "5\t7\t" + f79 + " " + "\n",
        "5\t7\t" + std::string(200, 'f') + "\n",
        "5\t7\tabc\t" + p1599 + "\n",
        "5\t7\tabc\t" + p1599 + "q\n",
        "5\t7\tabc\t" + std::string(1700, ' ') + "x\n",
    };
    for (const std::string& line : rows) {
        SCOPED_TRACE(line.substr(0, 100));
        std::string path = "unset", scanfPath = "unset";
        Cached got, scanfGot;
        bool parsed = ParseCacheLine(line.c_str(), path, got);
        ASSERT_EQ(parsed, ScanfParse(line.c_str(), scanfPath, scanfGot));
        if (!parsed) continue;
        EXPECT_EQ(path, scanfPath);
        EXPECT_EQ(got.size, scanfGot.size);
        EXPECT_EQ(got.writeTime, scanfGot.writeTime);
        EXPECT_EQ(got.sha256, scanfGot.sha256);
    }
}

// The numbers as the C library's strtoull reads them, written out so that the rule stays
// pinned down even where both sides of the comparison above would move together.
TEST(ParseCacheLine, ReadsNumbersWithSignAndOverflowLikeStrtoull) {
    const struct {
        const char* field;
        uint64_t value;
    } rows[] = {
        {"0", 0},
        {"+12", 12},
        {"-1", UINT64_MAX},
        {"-5", UINT64_MAX - 4},
        {"18446744073709551615", UINT64_MAX},
        {"18446744073709551616", UINT64_MAX},
        {"-18446744073709551615", 1},
        {"-18446744073709551616", UINT64_MAX},
        {"000000000000000000000000000042", 42},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.field);
        std::string line = std::string("1\t") + row.field + "\tabc\tp\n";
        std::string path;
        Cached got;
        ASSERT_TRUE(ParseCacheLine(line.c_str(), path, got));
        EXPECT_EQ(got.writeTime, row.value);
        ASSERT_TRUE(ScanfParse(line.c_str(), path, got));
        EXPECT_EQ(got.writeTime, row.value);
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
