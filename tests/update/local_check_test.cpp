#include "update/local_check.h"

#include <gtest/gtest.h>

#include "launcher/globals.h"
#include "launcher/owned.h"
#include "launcher/text.h"
#include "tests/support/message_window.h"
#include "tests/support/signing.h"
#include "tests/support/temp_folder.h"

namespace orvantis::test {
namespace {

std::wstring Local(const std::string& path) {
    std::wstring out = Wide(path);
    for (wchar_t& c : out)
        if (c == L'/') c = L'\\';
    return out;
}

uint64_t WriteTime(const std::wstring& path) {
    WIN32_FILE_ATTRIBUTE_DATA info = {};
    GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &info);
    return (uint64_t(info.ftLastWriteTime.dwHighDateTime) << 32) | info.ftLastWriteTime.dwLowDateTime;
}

void SetWriteTime(const std::wstring& path, uint64_t time) {
    OwnedHandle file = OpenFile(path.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ, OPEN_EXISTING);
    ASSERT_TRUE(file);
    FILETIME ft{static_cast<DWORD>(time), static_cast<DWORD>(time >> 32)};
    ASSERT_TRUE(SetFileTime(file.h, nullptr, nullptr, &ft));
}

std::vector<std::string> Paths(const Needed& needed) {
    std::vector<std::string> out;
    for (const auto& n : needed) out.push_back(n.first.path);
    return out;
}

struct LocalCheckTest : GameFolderTest {
    MessageWindow window;
    Cache cache;
    Needed needed;

    // Writes the file (and its folders) and returns the entry that matches it.
    Entry Put(const std::string& path, const std::string& content) {
        std::wstring local = Local(path);
        for (size_t slash = local.find(L'\\'); slash != std::wstring::npos; slash = local.find(L'\\', slash + 1))
            CreateDirectoryW(Path(local.substr(0, slash)).c_str(), nullptr);
        WriteFileBytes(Path(local), content);
        return FileEntry(path, content);
    }

    bool Check(const std::vector<Entry>& entries, bool ultraPresent = false) {
        needed.clear();
        return CheckLocalFiles(entries, ultraPresent, cache, needed);
    }
};

TEST_F(LocalCheckTest, ListsWhatDiffersInManifestOrderAndCachesWhatItHashed) {
    std::vector<Entry> entries = {
        FileEntry("Data/missing.bin", "missing"),
        Put("Data/good.bin", "good content"),
        FileEntry("short.bin", "the manifest's longer content"),
        FileEntry("changed.bin", "abcdef"),
        Put("Main.exe", "game"),
    };
    Put("short.bin", "short");
    Put("changed.bin", "ABCDEF");
    cache["short.bin"] = Cached{99, 12345, "stale"};

    ASSERT_TRUE(Check(entries));
    EXPECT_EQ(Paths(needed), (std::vector<std::string>{"Data/missing.bin", "short.bin", "changed.bin"}));
    EXPECT_EQ(needed[0].second, Path(L"Data\\missing.bin"));
    EXPECT_EQ(needed[0].first.sha256, entries[0].sha256);

    EXPECT_EQ(cache.count("Data/missing.bin"), 0u);
    // A wrong length is decided without reading, so the old record stays as it was.
    EXPECT_EQ(cache["short.bin"].size, 99u);
    EXPECT_EQ(cache["short.bin"].writeTime, 12345u);
    EXPECT_EQ(cache["short.bin"].sha256, "stale");
    EXPECT_EQ(cache["Data/good.bin"].sha256, entries[1].sha256);
    EXPECT_EQ(cache["Data/good.bin"].size, 12u);
    EXPECT_EQ(cache["Data/good.bin"].writeTime, WriteTime(Path(L"Data\\good.bin")));
    EXPECT_EQ(cache["changed.bin"].sha256, HexSha256("ABCDEF"));
    EXPECT_EQ(cache.size(), 5u - 1u);
}

TEST_F(LocalCheckTest, TrustsTheCacheUntilSizeOrWriteTimeChanges) {
    Entry entry = Put("Data/a.pak", "original");
    std::wstring local = Path(L"Data\\a.pak");
    ASSERT_TRUE(Check({entry}));
    ASSERT_TRUE(needed.empty());
    uint64_t time = WriteTime(local);
    ASSERT_EQ(cache["Data/a.pak"].writeTime, time);

    // Same length, same write time: the file is not read again, so the change goes unseen.
    WriteFileBytes(local, "ORIGINAL");
    SetWriteTime(local, time);
    ASSERT_TRUE(Check({entry}));
    EXPECT_TRUE(needed.empty());
    EXPECT_EQ(cache["Data/a.pak"].sha256, entry.sha256);

    // A new write time makes the record useless: the file is hashed and found wrong.
    SetWriteTime(local, time + 10000000);
    ASSERT_TRUE(Check({entry}));
    EXPECT_EQ(Paths(needed), std::vector<std::string>{"Data/a.pak"});
    EXPECT_EQ(cache["Data/a.pak"].sha256, HexSha256("ORIGINAL"));
    EXPECT_EQ(cache["Data/a.pak"].writeTime, time + 10000000);
}

// Hundreds of files to read, spread between files decided without reading: the verdicts
// must come out as one walk in manifest order would give them.
TEST_F(LocalCheckTest, KeepsManifestOrderAcrossManyFilesToRead) {
    std::vector<Entry> entries;
    std::vector<std::string> want;
    for (int i = 0; i < 400; ++i) {
        std::string path = "Data/" + std::to_string(i % 7) + "/f" + std::to_string(i) + ".bin";
        std::string content = "content of " + std::to_string(i) + std::string(i % 13, 'x');
        switch (i % 6) {
            case 0:  // missing
                entries.push_back(FileEntry(path, content));
                want.push_back(path);
                break;
            case 1:  // wrong length
                Put(path, content + "!");
                entries.push_back(FileEntry(path, content));
                want.push_back(path);
                break;
            case 2:  // wrong content of the right length, read
                Put(path, std::string(content.size(), '?'));
                entries.push_back(FileEntry(path, content));
                want.push_back(path);
                break;
            case 3:  // right content, read
                entries.push_back(Put(path, content));
                break;
            case 4: {  // right content, vouched for by its record
                entries.push_back(Put(path, content));
                std::wstring local = Path(Local(path));
                cache[path] = Cached{content.size(), WriteTime(local), entries.back().sha256};
                break;
            }
            default: {  // a record that vouches for a wrong digest
                entries.push_back(Put(path, content));
                std::wstring local = Path(Local(path));
                cache[path] = Cached{content.size(), WriteTime(local), HexSha256("something else")};
                want.push_back(path);
                break;
            }
        }
    }
    ASSERT_TRUE(Check(entries));
    ASSERT_EQ(Paths(needed), want);
    for (const auto& [entry, local] : needed) {
        SCOPED_TRACE(entry.path);
        EXPECT_EQ(local, Path(Local(entry.path)));
    }
    for (int i = 0; i < 400; ++i) {
        const Entry& entry = entries[i];
        SCOPED_TRACE(entry.path);
        auto record = cache.find(entry.path);
        if (i % 6 < 2) {
            EXPECT_EQ(record, cache.end());
            continue;
        }
        ASSERT_NE(record, cache.end());
        EXPECT_EQ(record->second.size, entry.size);
        EXPECT_EQ(record->second.writeTime, WriteTime(Path(Local(entry.path))));
        std::string digest = i % 6 == 2   ? HexSha256(std::string(entry.size, '?'))
                             : i % 6 == 5 ? HexSha256("something else")
                                          : entry.sha256;
        EXPECT_EQ(record->second.sha256, digest);
    }
}

TEST_F(LocalCheckTest, ShowsTheScanEveryTwoHundredEntries) {
    struct Row {
        const char* name;
        size_t skippedAt;  // an entry skipped as DataUltra content; SIZE_MAX for none
        bool present;      // every file there with the right content, so every one is read
        std::vector<int32_t> percents;
    } rows[] = {
        {"none skipped", SIZE_MAX, false, {0, 44, 88}},
        {"entry 200 skipped", 200, false, {0, 88}},
        {"every file read", SIZE_MAX, true, {0, 44, 88}},
        {"every file read, entry 200 skipped", 200, true, {0, 88}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        cache.clear();
        std::vector<Entry> entries;
        for (size_t i = 0; i < 450; ++i) {
            std::string path = i == row.skippedAt ? "DataUltra/f" : "f";
            path += std::to_string(i);
            entries.push_back(row.present ? Put(path, "x") : FileEntry(path, "x"));
            if (!row.present) DeleteFileW(Path(Local(path)).c_str());
        }
        size_t before = window.Statuses().size();
        ASSERT_TRUE(Check(entries));
        size_t checked = row.skippedAt == SIZE_MAX ? 450u : 449u;
        EXPECT_EQ(needed.size(), row.present ? 0u : checked);
        EXPECT_EQ(cache.size(), row.present ? checked : 0u);
        window.Flush();
        std::vector<StatusLine> lines = window.Statuses();
        std::vector<int32_t> percents;
        for (size_t i = before; i < lines.size(); ++i) {
            EXPECT_EQ(lines[i].text, L"Revisando tus archivos...");
            percents.push_back(lines[i].percent);
        }
        EXPECT_EQ(percents, row.percents);
    }
}

TEST_F(LocalCheckTest, TakesDataUltraOnlyWhereTheFolderExists) {
    std::vector<Entry> entries = {
        FileEntry("DataUltra/a", "1"), FileEntry("dataultra/b", "2"), FileEntry("DATAULTRA/sub/c", "3"),
        FileEntry("DataUltraX/d", "4"), FileEntry("Data/DataUltra/e", "5"), FileEntry("DataUltra", "6"),
    };
    ASSERT_TRUE(Check(entries, false));
    EXPECT_EQ(Paths(needed), (std::vector<std::string>{"DataUltraX/d", "Data/DataUltra/e", "DataUltra"}));
    ASSERT_TRUE(Check(entries, true));
    EXPECT_EQ(needed.size(), 6u);
}

TEST_F(LocalCheckTest, NeverTakesTheLauncherItself) {
    WriteFileBytes(Path(L"OrvantisKesh.exe"), "the running launcher");
    std::vector<Entry> entries = {
        FileEntry("OrvantisKesh.exe", "a newer launcher"),
        FileEntry("orvantiskesh.EXE", "a newer launcher"),
        FileEntry("Data/OrvantisKesh.exe", "an ordinary file"),
        FileEntry("Data/orvantiskesh.exe", "an ordinary file"),
    };
    ASSERT_TRUE(Check(entries));
    EXPECT_EQ(Paths(needed), (std::vector<std::string>{"Data/OrvantisKesh.exe", "Data/orvantiskesh.exe"}));
    EXPECT_EQ(cache.count("OrvantisKesh.exe"), 0u);
}

// Trailing dots and blanks vanish when a path is made canonical, so these names would
// otherwise reach the running launcher's own file.
TEST_F(LocalCheckTest, NeverTakesTheLauncherUnderAnotherSpelling) {
    WriteFileBytes(Path(L"OrvantisKesh.exe"), "the running launcher");
    for (const char* path : {"OrvantisKesh.exe.", "OrvantisKesh.exe ", "ORVANTISKESH.EXE. .", "Data/../OrvantisKesh.exe",
                             "OrvantisKesh.exe::$DATA", "./OrvantisKesh.exe"}) {
        SCOPED_TRACE(path);
        std::wstring local;
        bool valid = ValidEntry(FileEntry(path, "a newer launcher"), local);
        bool accepted = Check({FileEntry(path, "a newer launcher")});
        EXPECT_EQ(accepted, valid);
        // Refusing the whole update is as safe as skipping the entry; listing it is not.
        EXPECT_TRUE(needed.empty());
        EXPECT_TRUE(cache.empty());
    }
    EXPECT_EQ(ReadFileBytes(Path(L"OrvantisKesh.exe")), "the running launcher");
}

// Where the file system keeps short (8.3) names, "ORVANT~1.EXE" opens the launcher too.
TEST_F(LocalCheckTest, NeverTakesTheLauncherByItsShortName) {
    WriteFileBytes(Path(L"OrvantisKesh.exe"), "the running launcher");
    wchar_t shortPath[MAX_PATH * 4] = {};
    DWORD n = GetShortPathNameW(Path(L"OrvantisKesh.exe").c_str(), shortPath, MAX_PATH * 4);
    std::wstring name = shortPath;
    name = name.substr(name.find_last_of(L'\\') + 1);
    if (n == 0 || name == L"OrvantisKesh.exe") GTEST_SKIP() << "this file system keeps no short names";
    SCOPED_TRACE(Narrow(name));

    std::vector<Entry> entries = {FileEntry(Narrow(name), "a newer launcher"), FileEntry("Data/a~1.bin", "tilde")};
    std::wstring local;
    bool valid = ValidEntry(entries[0], local);
    EXPECT_EQ(Check(entries), valid);
    if (valid) {
        // A tilde alone proves nothing: other names with one are checked as usual.
        EXPECT_EQ(Paths(needed), std::vector<std::string>{"Data/a~1.bin"});
    }
    EXPECT_EQ(cache.size(), 0u);
    EXPECT_EQ(ReadFileBytes(Path(L"OrvantisKesh.exe")), "the running launcher");
}

// The files the launcher keeps beside the game are its own, like its executable: listed in a
// manifest, they would be replaced (the log's history lost) and fetched again at every start.
TEST_F(LocalCheckTest, NeverTakesTheLaunchersOwnFiles) {
    const char* const own[] = {"orvantis_update.log", "orvantis_update.cache", "orvantis_verify.result",
                               "orvantis_update.release"};
    for (const char* name : own) WriteFileBytes(Path(Wide(name)), std::string("the launcher's ") + name);
    std::vector<Entry> entries;
    for (const char* name : own) {
        entries.push_back(FileEntry(name, "from the release"));
        entries.push_back(FileEntry(std::string(name) + ".", "from the release"));
        std::string upper = name;
        for (char& c : upper) c = static_cast<char>(toupper(c));
        entries.push_back(FileEntry(upper, "from the release"));
        entries.push_back(FileEntry(std::string("Data/") + name, "an ordinary file"));
    }
    entries.push_back(FileEntry("orvantis_update.other", "an ordinary file"));
    ASSERT_TRUE(Check(entries));
    std::vector<std::string> expected;
    for (const char* name : own) expected.push_back(std::string("Data/") + name);
    expected.push_back("orvantis_update.other");
    EXPECT_EQ(Paths(needed), expected);
    for (const char* name : own) {
        SCOPED_TRACE(name);
        EXPECT_EQ(cache.count(name), 0u);
        EXPECT_EQ(ReadFileBytes(Path(Wide(name))), std::string("the launcher's ") + name);
    }
}

TEST_F(LocalCheckTest, RefusesTheWholeListAtAnyMalformedEntry) {
    const std::string hex = std::string(64, 'c');
    std::string upperHex = hex;
    upperHex[0] = 'C';
    auto packed = [&](std::string pack, uint64_t size, uint64_t offset, uint64_t packSize) {
        Entry e = FileEntry("Data/p.bin", std::string(static_cast<size_t>(size), 'p'));
        e.pack = pack;
        e.offset = offset;
        e.packSize = packSize;
        return e;
    };
    Entry shortSha = FileEntry("Data/a.bin", "a");
    shortSha.sha256.pop_back();
    Entry longSha = FileEntry("Data/a.bin", "a");
    longSha.sha256 += "0";
    Entry ultraBad = FileEntry("DataUltra/x.bin", "x");
    ultraBad.sha256.pop_back();
    Entry garbageOffsets = FileEntry("Data/g.bin", "g");
    garbageOffsets.offset = 999;
    garbageOffsets.packSize = 0;

    struct Row {
        const char* name;
        Entry entry;
        bool accepted;
    } rows[] = {
        {"63-digit sha256", shortSha, false},
        {"65-digit sha256", longSha, false},
        {"path outside the folder", FileEntry("../evil.exe", "e"), false},
        {"absolute path", FileEntry("C:/Windows/evil.exe", "e"), false},
        {"invalid under DataUltra without the folder", ultraBad, false},
        {"upper-case digit in pack", packed(upperHex, 1, 0, 10), false},
        {"63-digit pack", packed(hex.substr(1), 1, 0, 10), false},
        {"packSize 0", packed(hex, 0, 0, 0), false},
        {"packSize 16777217", packed(hex, 1, 0, 16777217), false},
        {"offset beyond packSize", packed(hex, 0, 11, 10), false},
        {"file runs past the pack", packed(hex, 5, 6, 10), false},
        {"packSize 16777216 filled to the end", packed(hex, 16, 16777200, 16777216), true},
        {"empty pack with any offsets", garbageOffsets, true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        cache.clear();
        std::vector<Entry> entries = {Put("Main.exe", "game"), row.entry, FileEntry("later.bin", "later")};
        EXPECT_EQ(Check(entries), row.accepted);
        if (!row.accepted) {
            EXPECT_EQ(needed.size(), 0u) << "stops at the bad entry";
        }
    }
}

TEST_F(LocalCheckTest, AFileThatCannotBeOpenedIsNeededAndCachedWithoutDigest) {
    Entry entry = Put("Data/locked.bin", "locked");
    OwnedHandle holder = OpenFile(Path(L"Data\\locked.bin").c_str(), GENERIC_READ, 0, OPEN_EXISTING);
    ASSERT_TRUE(holder);
    ASSERT_TRUE(Check({entry}));
    EXPECT_EQ(Paths(needed), std::vector<std::string>{"Data/locked.bin"});
    EXPECT_EQ(cache["Data/locked.bin"].sha256, "");
    EXPECT_EQ(cache["Data/locked.bin"].size, 6u);
}

TEST_F(LocalCheckTest, ChecksDuplicatePathsEachOnTheirOwn) {
    Entry right = Put("a.bin", "right");
    Entry wrong = FileEntry("a.bin", "wrong");
    ASSERT_TRUE(Check({right, wrong}));
    ASSERT_EQ(needed.size(), 1u);
    EXPECT_EQ(needed[0].first.sha256, wrong.sha256);
}

TEST_F(LocalCheckTest, AnUpperCaseDigestInTheManifestNeverMatches) {
    Entry entry = Put("a.bin", "content");
    for (char& c : entry.sha256) c = static_cast<char>(toupper(c));
    ASSERT_TRUE(Check({entry}));
    EXPECT_EQ(needed.size(), 1u);
}

}  // namespace
}  // namespace orvantis::test
