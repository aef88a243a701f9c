#include "launcher/own_names.h"

#include <gtest/gtest.h>

#include <functional>
#include <vector>

#include "tests/support/holder.h"
#include "tests/support/links.h"
#include "tests/support/temp_folder.h"

namespace orvantis::test {
namespace {

struct OwnNames : GameFolderTest {
    std::wstring outside;  // a folder beside the game folder, where planted links point
    std::vector<std::wstring> planted;

    void SetUp() override {
        GameFolderTest::SetUp();
        outside = MakeTempFolder(L"outside");
        ASSERT_FALSE(outside.empty());
        WriteFileBytes(outside + L"victim", "not yours");
    }
    void TearDown() override {
        for (const std::wstring& link : planted) RemoveLink(link);
        RemoveTree(outside);
        GameFolderTest::TearDown();
    }
    void Plant(const std::wstring& link, const std::wstring& target) {
        if (!PlantLink(link, target)) GTEST_SKIP() << "this platform makes no links for a test";
        planted.push_back(link);
    }
    bool Gone(const std::wstring& path) { return GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES && !IsLink(path); }
    void ExpectOutsideUntouched() {
        EXPECT_EQ(ReadFileBytes(outside + L"victim"), "not yours");
        EXPECT_FALSE(Exists(outside + L"missing")) << "a file was made where a link pointed";
    }
    // What the folder holds besides the name under test: no temporary file may be left.
    size_t Entries() {
        size_t n = 0;
        WIN32_FIND_DATAW data;
        OwnedFind find = FindFirst((folder + L"*").c_str(), &data);
        if (find) {
            do {
                if (wcscmp(data.cFileName, L".") != 0 && wcscmp(data.cFileName, L"..") != 0) ++n;
            } while (FindNextFileW(find.h, &data));
        }
        return n;
    }
};

TEST_F(OwnNames, ClearNameRemovesFilesAndLinksButNeverWhatALinkPointsTo) {
    struct Row {
        const char* name;
        std::function<void(const std::wstring&)> plant;
    };
    const Row rows[] = {
        {"nothing", [](const std::wstring&) {}},
        {"a file", [](const std::wstring& at) { WriteFileBytes(at, "left over"); }},
        {"a read-only file",
         [](const std::wstring& at) {
             WriteFileBytes(at, "left over");
             SetFileAttributesW(at.c_str(), FILE_ATTRIBUTE_READONLY);
         }},
        {"a link to a file outside", [&](const std::wstring& at) { Plant(at, outside + L"victim"); }},
        {"a link that points nowhere", [&](const std::wstring& at) { Plant(at, outside + L"missing"); }},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        std::wstring at = Path(L"x.part");
        row.plant(at);
        if (IsSkipped()) return;
        EXPECT_TRUE(ClearName(at));
        EXPECT_TRUE(Gone(at));
        EXPECT_EQ(Entries(), 0u) << "something was left in the folder";
        ExpectOutsideUntouched();
    }
}

TEST_F(OwnNames, ClearNameLeavesFoldersAndWhatAFolderLinkHolds) {
    ASSERT_TRUE(CreateDirectoryW(Path(L"real.part").c_str(), nullptr));
    WriteFileBytes(Path(L"real.part\\inside"), "mine");
    EXPECT_FALSE(ClearName(Path(L"real.part")));
    EXPECT_EQ(ReadFileBytes(Path(L"real.part\\inside")), "mine");

    // A link to a folder, full or empty, is refused, and what it leads to stays.
    ASSERT_TRUE(CreateDirectoryW((outside + L"dir").c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryW((outside + L"empty").c_str(), nullptr));
    WriteFileBytes(outside + L"dir\\inside", "theirs");
    Plant(Path(L"linked.part"), outside + L"dir");
    Plant(Path(L"empty.part"), outside + L"empty");
    if (IsSkipped()) return;
    EXPECT_FALSE(ClearName(Path(L"linked.part")));
    EXPECT_FALSE(ClearName(Path(L"empty.part")));
    EXPECT_EQ(ReadFileBytes(outside + L"dir\\inside"), "theirs");
    EXPECT_TRUE(Exists(outside + L"empty"));
}

TEST_F(OwnNames, CreateFreshTakesTheNameOverAndNeverALinksTarget) {
    struct Row {
        const char* name;
        std::function<void(const std::wstring&)> plant;
    };
    const Row rows[] = {
        {"a free name", [](const std::wstring&) {}},
        {"a read-only leftover",
         [](const std::wstring& at) {
             WriteFileBytes(at, "left over");
             SetFileAttributesW(at.c_str(), FILE_ATTRIBUTE_READONLY);
         }},
        {"a link to a file outside", [&](const std::wstring& at) { Plant(at, outside + L"victim"); }},
        {"a link that points nowhere", [&](const std::wstring& at) { Plant(at, outside + L"missing"); }},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        std::wstring at = Path(L"y.part");
        row.plant(at);
        if (IsSkipped()) return;
        {
            OwnedHandle file = CreateFresh(at, GENERIC_WRITE, 0);
            ASSERT_TRUE(file);
            DWORD written = 0;
            ASSERT_TRUE(WriteFile(file.h, "new", 3, &written, nullptr));
        }
        EXPECT_EQ(ReadFileBytes(at), "new");
        EXPECT_FALSE(IsLink(at));
        EXPECT_EQ(Entries(), 1u);
        ExpectOutsideUntouched();
        DeleteFileW(at.c_str());
    }
    ASSERT_TRUE(CreateDirectoryW(Path(L"dir.part").c_str(), nullptr));
    EXPECT_FALSE(CreateFresh(Path(L"dir.part"), GENERIC_WRITE, 0)) << "a folder is not ours to replace";
}

TEST_F(OwnNames, OwnFilesAreWrittenInPlaceAndNeverThroughALink) {
    auto write = [](const std::wstring& at, bool append, const char* text) {
        FILE* f = OpenOwnFile(at, append);
        if (!f) return false;
        fputs(text, f);
        return fclose(f) == 0;
    };
    std::wstring log = Path(L"own.log");
    ASSERT_TRUE(write(log, true, "one\r\n"));
    ASSERT_TRUE(write(log, true, "two\r\n"));
    EXPECT_EQ(ReadFileBytes(log), "one\r\ntwo\r\n") << "appended";
    ASSERT_TRUE(write(log, false, "x"));
    EXPECT_EQ(ReadFileBytes(log), "x") << "rewritten";

    // A scanner holds the file for a moment: the open waits for it.
    Holder holder;
    Holder::Now(holder, log, 400);
    ASSERT_TRUE(holder.held);
    EXPECT_TRUE(write(log, true, "y"));
    EXPECT_TRUE(holder.done);
    EXPECT_EQ(ReadFileBytes(log), "xy");

    for (bool append : {true, false}) {
        SCOPED_TRACE(append ? "appending" : "rewriting");
        std::wstring linked = Path(L"linked.log"), nowhere = Path(L"nowhere.log");
        Plant(linked, outside + L"victim");
        Plant(nowhere, outside + L"missing");
        if (IsSkipped()) return;
        EXPECT_TRUE(write(linked, append, "mine"));
        EXPECT_TRUE(write(nowhere, append, "mine too"));
        EXPECT_EQ(ReadFileBytes(linked), "mine");
        EXPECT_EQ(ReadFileBytes(nowhere), "mine too");
        EXPECT_FALSE(IsLink(linked));
        ExpectOutsideUntouched();
        DeleteFileW(linked.c_str());
        DeleteFileW(nowhere.c_str());
    }

    // A folder link above the name is the player's doing (Data moved to another drive): kept.
    ASSERT_TRUE(CreateDirectoryW((outside + L"Data").c_str(), nullptr));
    Plant(Path(L"Data"), outside + L"Data");
    if (IsSkipped()) return;
    EXPECT_TRUE(write(Path(L"Data\\notes.txt"), true, "through the folder link"));
    EXPECT_EQ(ReadFileBytes(outside + L"Data\\notes.txt"), "through the folder link");
    EXPECT_TRUE(IsLink(Path(L"Data")));
}

}  // namespace
}  // namespace orvantis::test
