#include "manifest/safe_path.h"

#include <gtest/gtest.h>

#include <string>

#include "launcher/globals.h"
#include "launcher/text.h"
#include "tests/support/temp_folder.h"

namespace orvantis {
namespace {

using SafePathTest = test::GameFolderTest;

// A name that canonicalises to a file below the game folder, nothing else.
void ExpectInsideFolder(const std::wstring& folder, const std::wstring& out) {
    ASSERT_GT(out.size(), folder.size());
    EXPECT_EQ(out.substr(0, folder.size()), folder);
    EXPECT_NE(out.back(), L'\\');
    EXPECT_EQ(out.find(L"\\\\", 1), std::wstring::npos);
}

TEST_F(SafePathTest, MapsPlainRelativePathsIntoTheFolder) {
    const struct {
        const char* path;
        const wchar_t* local;
    } rows[] = {
        {"Data/Player/hero.bmd", L"Data\\Player\\hero.bmd"},
        {"Main.exe", L"Main.exe"},
        {".cfg", L".cfg"},
        {"a..b", L"a..b"},
        {"Data/.hidden/..x", L"Data\\.hidden\\..x"},
        {"with blanks/a b.txt", L"with blanks\\a b.txt"},
        {"Datos/ca\xc3\xb1\xc3\xb3n/\xc3\x91" "and\xc3\xba.txt", L"Datos\\ca\u00f1\u00f3n\\\u00d1and\u00fa.txt"},
        {"\xe6\x97\xa5\xe6\x9c\xac/\xf0\x9f\x98\x80.bin", L"\u65e5\u672c\\\U0001F600.bin"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.path);
        std::wstring out;
        ASSERT_TRUE(SafePath(row.path, out));
        EXPECT_EQ(out, folder + row.local);
    }
}

TEST_F(SafePathTest, RejectsPathsThatAreNotPlainRelativeNames) {
    const std::string rows[] = {
        "",
        "/Data/x",
        "/",
        "Data\\x",
        "\\\\server\\share\\x",
        "C:/x",
        "x:y",
        "file.txt:stream",
        "Data/x::$DATA",
        "a//b",
        "a/",
        "Data/",
        "./a",
        "a/./b",
        "a/../b",
        "..",
        ".",
        "../x",
        "Data/..",
        std::string("a\0b", 3),
        "a\nb",
        "a\rb",
        "tab\there",
        "\x1f",
    };
    for (const std::string& path : rows) {
        SCOPED_TRACE(path);
        std::wstring out = L"untouched";
        EXPECT_FALSE(SafePath(path, out));
        EXPECT_EQ(out, L"untouched");  // refused before any canonicalisation
    }
}

TEST_F(SafePathTest, NeverLeavesTheFolderForNamesThePlatformRewrites) {
    const char* rows[] = {
        "x.",      "x. ",      "x ",       "x . .",     "Data/x...", "Data. /x",  "...",       " ",
        "Data/ ",  "Data/...", ". .",      "CON",       "con",       "NUL",       "AUX",       "PRN",
        "COM1",    "LPT1",     "CON.txt",  "nul.txt",   "NUL.",      "CON ",      "COM1.log",  "Data/CON",
        "Data/aux.bmd", "Data/lpt9.x", "CONIN$", "CONOUT$", "a/CON/b", "COM\xc2\xb9", "x\xe2\x80\x8b",
    };
    for (const char* path : rows) {
        SCOPED_TRACE(path);
        std::wstring out;
        if (SafePath(path, out)) ExpectInsideFolder(folder, out);
    }
    // Known rewrites: trailing dots and blanks go, device names leave the folder.
    std::wstring out;
    ASSERT_TRUE(SafePath("x. ", out));
    EXPECT_EQ(out, folder + L"x");
    ASSERT_TRUE(SafePath("Data/x...", out));
    EXPECT_EQ(out, folder + L"Data\\x");
    for (const char* path : {"CON", "NUL", "COM1", "Data/NUL"}) {
        SCOPED_TRACE(path);
        EXPECT_FALSE(SafePath(path, out));
    }
    // Nothing left of the last name: the result would be the folder itself, or one inside it.
    for (const char* path : {"...", " ", ". .", "Data/ ", "Data/..."}) {
        SCOPED_TRACE(path);
        EXPECT_FALSE(SafePath(path, out));
    }
}

// "..." canonicalises to a literal ".." under Wine; a file created at such a result
// would land in the folder's parent. Whatever is accepted must be created inside.
TEST_F(SafePathTest, NamesMadeOfDotsNeverLeadOutOfTheFolder) {
    std::wstring parent = folder.substr(0, folder.find_last_of(L'\\', folder.size() - 2) + 1);
    const char* rows[] = {".../orvsp", "..../orvsp", "Data/.../orvsp", ".. /orvsp", "... /orvsp", " ../orvsp",
                          ". ./orvsp", "Data/.. /orvsp", "a/.../.../orvsp"};
    for (const char* path : rows) {
        SCOPED_TRACE(path);
        std::wstring out;
        if (!SafePath(path, out)) continue;
        ExpectInsideFolder(folder, out);
        for (size_t p = folder.size(); (p = out.find(L'\\', p + 1)) != std::wstring::npos;)
            CreateDirectoryW(out.substr(0, p).c_str(), nullptr);
        // Some accepted names cannot be created at all; that is a clear failure later on.
        if (FILE* f = _wfopen(out.c_str(), L"wb")) fclose(f);
        EXPECT_FALSE(test::Exists(parent + L"orvsp")) << "created in the folder's parent";
        DeleteFileW((parent + L"orvsp").c_str());
    }
    std::wstring out;
    EXPECT_FALSE(SafePath(".../orvsp", out));
}

TEST_F(SafePathTest, AcceptsCanonicalPathsUpTo519Characters) {
    // Segments of 150 characters, so that only the total length matters.
    auto name = [&](size_t total) {
        std::string rel(total - folder.size(), 'a');
        for (size_t i = 150; i + 1 < rel.size(); i += 151) rel[i] = '/';
        return rel;
    };
    std::wstring out;
    std::string rel519 = name(519);
    ASSERT_EQ(folder.size() + rel519.size(), 519u);
    EXPECT_TRUE(SafePath(rel519, out));
    EXPECT_EQ(out.size(), 519u);
    std::string rel520 = name(520);
    ASSERT_EQ(folder.size() + rel520.size(), 520u);
    EXPECT_FALSE(SafePath(rel520, out));
    EXPECT_FALSE(SafePath(name(4000), out));
}

TEST_F(SafePathTest, ComparesTheFolderWithoutRegardToLetterCase) {
    std::wstring upper = folder;
    for (wchar_t& c : upper)
        if (c >= L'a' && c <= L'z') c = static_cast<wchar_t>(c - L'a' + L'A');
    gFolder = upper;
    std::wstring out;
    EXPECT_TRUE(SafePath("Main.exe", out));
    EXPECT_EQ(out.size(), upper.size() + 8);
}

TEST_F(SafePathTest, TouchesNothingOnDisk) {
    std::wstring out;
    ASSERT_TRUE(SafePath("Data/Player/hero.bmd", out));
    EXPECT_FALSE(test::Exists(folder + L"Data"));
    EXPECT_FALSE(test::Exists(out));
}

}  // namespace
}  // namespace orvantis
