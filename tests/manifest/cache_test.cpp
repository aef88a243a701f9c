#include "manifest/cache.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "launcher/constants.h"
#include "launcher/globals.h"
#include "launcher/win.h"
#include "manifest/cache_line.h"
#include "tests/support/holder.h"
#include "tests/support/temp_folder.h"

namespace orvantis {
namespace {

const std::string kA = "2cf24dba5fb0a30e26e83b2ac5b9e29e1b161e5c1fa7425e73043362938b9824";
const std::string kB = "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855";

struct CacheTest : test::GameFolderTest {
    std::wstring File() const { return Path(kCacheName); }
};

void ExpectSame(const Cache& got, const Cache& want) {
    ASSERT_EQ(got.size(), want.size());
    for (const auto& [path, record] : want) {
        SCOPED_TRACE(path);
        auto it = got.find(path);
        ASSERT_NE(it, got.end());
        EXPECT_EQ(it->second.size, record.size);
        EXPECT_EQ(it->second.writeTime, record.writeTime);
        EXPECT_EQ(it->second.sha256, record.sha256);
    }
}

TEST_F(CacheTest, MissingFileGivesAnEmptyCache) { EXPECT_TRUE(LoadCache().empty()); }

TEST_F(CacheTest, RoundTripsEveryRecordInKeyOrder) {
    Cache cache;
    cache["Main.exe"] = {5, 133497012345678901ull, kA};
    cache["Data/a.txt"] = {1, 2, kB};
    cache["data/a.txt"] = {3, 4, kA};  // case-distinct: a record of its own
    cache["Data/My Files/a  b\tc.txt"] = {0, 0, kB};
    cache["Datos/ca\xc3\xb1\xc3\xb3n.txt"] = {UINT64_MAX, UINT64_MAX, kA};
    SaveCache(cache);
    ExpectSame(LoadCache(), cache);

    std::string bytes = test::ReadFileBytes(File());
    // Byte order: 'M' < 'a' and 'D' < 'M' < 'd'.
    EXPECT_EQ(bytes, "0\t0\t" + kB + "\tData/My Files/a  b\tc.txt\n" +
                         "1\t2\t" + kB + "\tData/a.txt\n" +
                         "18446744073709551615\t18446744073709551615\t" + kA + "\tDatos/ca\xc3\xb1\xc3\xb3n.txt\n" +
                         "5\t133497012345678901\t" + kA + "\tMain.exe\n" +
                         "3\t4\t" + kA + "\tdata/a.txt\n");
}

TEST_F(CacheTest, SaveReplacesTheOldContent) {
    Cache many;
    for (int i = 0; i < 50; ++i) many[std::to_string(i) + ".bin"] = {1, 1, kA};
    SaveCache(many);
    Cache one;
    one["only"] = {2, 2, kB};
    SaveCache(one);
    ExpectSame(LoadCache(), one);
}

TEST_F(CacheTest, SkipsDamagedLinesAndLetsTheLaterLineWin) {
    test::WriteFileBytes(File(), "5\t7\t" + kA + "\tData/a.txt\n"
                                 "garbage\n"
                                 "\n"
                                 "5\t7\n"
                                 "x\t7\t" + kA + "\tData/x.txt\n"
                                 "\x01\xff\xfe binary\n"
                                 "1\t2\t" + kB + "\tMain.exe\r\n"
                                 "6\t8\t" + kB + "\tData/a.txt\n"
                                 "9\t9\t" + kA + "\tlast line without line feed");
    Cache want;
    want["Data/a.txt"] = {6, 8, kB};
    want["Main.exe"] = {1, 2, kB};
    want["last line without line feed"] = {9, 9, kA};
    ExpectSame(LoadCache(), want);
}

TEST_F(CacheTest, ReadsALineLongerThan2047BytesInPieces) {
    // The first 2047 bytes of the long line are one piece; the rest is parsed as a
    // line of its own, here laid out to look like a record.
    std::string head = "1\t1\t" + kA + "\t";
    std::string longLine = head + std::string(2047 - head.size(), 'p') + "2\t2\t" + kB + "\tinjected\n";
    test::WriteFileBytes(File(), longLine + "3\t3\t" + kA + "\tafter\n" + std::string(5000, 'q') + "\n" +
                                     "4\t4\t" + kB + "\tend\n");
    Cache got = LoadCache();
    Cache want;
    want[std::string(1599, 'p')] = {1, 1, kA};  // the path field holds at most 1599 bytes
    want["injected"] = {2, 2, kB};
    want["after"] = {3, 3, kA};
    want["end"] = {4, 4, kB};
    ExpectSame(got, want);
}

// The cache read line by line: one fgets into 2048 bytes per piece.
Cache LoadByLines(const std::wstring& file) {
    Cache cache;
    FILE* f = _wfopen(file.c_str(), L"rb");
    if (!f) return cache;
    char line[2048];
    while (fgets(line, sizeof line, f)) {
        std::string path;
        Cached record;
        if (ParseCacheLine(line, path, record)) cache[path] = std::move(record);
    }
    fclose(f);
    return cache;
}

TEST_F(CacheTest, ReadsEveryRecordAsALineByLineReadDid) {
    // Thousands of lines of many lengths: plain, long, damaged, cut short, with a carriage
    // return or a zero byte, read whole and cut into lines as fgets cut them.
    std::string bytes;
    uint32_t seed = 12345;
    auto next = [&] { return seed = seed * 1103515245u + 12345u, (seed >> 8) & 0xffff; };
    for (int i = 0; i < 6000; ++i) {
        std::string path = "Data/" + std::to_string(next() % 500) + "/" + std::string(next() % 90, 'n');
        std::string line = std::to_string(next()) + "\t" + std::to_string(next()) + "\t" +
                           (next() % 2 ? kA : kB) + "\t" + path + "\n";
        switch (next() % 40) {
            case 0: line = std::string(2000 + next() % 3000, 'L') + "\n"; break;
            case 1: line[line.size() / 2] = '\0'; break;
            case 2: line.pop_back(); line += "\r\n"; break;
            case 3: line = line.substr(0, next() % line.size()); break;
            default: break;
        }
        bytes += line;
    }
    bytes += "7\t7\t" + kA + "\tno line feed at the end";
    test::WriteFileBytes(File(), bytes);
    Cache want = LoadByLines(File());
    ASSERT_GT(want.size(), 2000u);
    ExpectSame(LoadCache(), want);
}

TEST_F(CacheTest, KeepsTheLinesBeforeAFileCutShort) {
    Cache cache;
    cache["a"] = {1, 1, kA};
    cache["b"] = {2, 2, kB};
    cache["c"] = {3, 3, kA};
    SaveCache(cache);
    std::string bytes = test::ReadFileBytes(File());
    size_t last = bytes.rfind("3\t3\t");
    ASSERT_NE(last, std::string::npos);
    test::WriteFileBytes(File(), bytes.substr(0, last + 4 + 20));  // cut inside the digest
    Cache want;
    want["a"] = {1, 1, kA};
    want["b"] = {2, 2, kB};
    ExpectSame(LoadCache(), want);
}

TEST_F(CacheTest, IgnoresAFileThatCannotBeOpened) {
    // A folder where the file should be: nothing can be read or written there.
    ASSERT_TRUE(CreateDirectoryW(File().c_str(), nullptr));
    EXPECT_TRUE(LoadCache().empty());
    Cache cache;
    cache["a"] = {1, 1, kA};
    SaveCache(cache);
    EXPECT_TRUE(LoadCache().empty());
    EXPECT_EQ(GetFileAttributesW(File().c_str()) & FILE_ATTRIBUTE_DIRECTORY, DWORD{FILE_ATTRIBUTE_DIRECTORY});
}

// A scanner looks at the new cache file after the first save; the loads and saves wait for it
// instead of losing the hashes of a run.
TEST_F(CacheTest, WaitsForAFileAScannerHoldsForAMoment) {
    Cache cache;
    cache["a"] = {1, 1, kA};
    SaveCache(cache);
    {
        test::Holder holder;
        test::Holder::Now(holder, File(), 400);
        ASSERT_TRUE(holder.held);
        ExpectSame(LoadCache(), cache);
        EXPECT_TRUE(holder.done);
    }
    cache["b"] = {2, 2, kB};
    {
        test::Holder holder;
        test::Holder::Now(holder, File(), 400);
        ASSERT_TRUE(holder.held);
        SaveCache(cache);
        EXPECT_TRUE(holder.done);
    }
    ExpectSame(LoadCache(), cache);
}

}  // namespace
}  // namespace orvantis
