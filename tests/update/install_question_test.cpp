#include "update/install_question.h"

#include <gtest/gtest.h>

#include "launcher/globals.h"
#include "launcher/text.h"
#include "tests/support/message_window.h"
#include "tests/support/temp_folder.h"

namespace orvantis::test {
namespace {

const std::wstring kAsk = L"\u00bfInstalar Orvantis Kesh en esta carpeta?\n\n";
const std::wstring kWarning =
    L"\n\nEsta carpeta ya tiene otros archivos. Es mejor crear una carpeta vac\u00eda (por ejemplo C:\\OrvantisKesh), "
    L"mover OrvantisKesh.exe ah\u00ed y abrirlo desde esa carpeta.";

Entry Sized(const std::string& path, uint64_t size) {
    Entry e;
    e.path = path;
    e.size = size;
    e.sha256 = std::string(64, 'a');
    return e;
}

TEST(InstallQuestion, WarnsFromFourOtherItemsOn) {
    const std::wstring folder = L"C:\\Juegos\\";
    struct Row {
        int32_t others;
        bool warns;
    } rows[] = {{0, false}, {3, false}, {4, true}, {25, true}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.others);
        std::wstring expected = kAsk + folder + L"\n\nSe descargar\u00e1n 1.5 GB." + (row.warns ? kWarning : L"");
        EXPECT_EQ(InstallQuestion(folder, 1500000000, row.others), expected);
    }
}

TEST(InstallQuestion, StatesTheSizeInDecimalGigabytesWithOneDecimal) {
    struct Row {
        uint64_t total;
        const wchar_t* text;
    } rows[] = {
        {0, L"0.0 GB"},
        {1500000000, L"1.5 GB"},
        {49999999, L"0.0 GB"},
        {950000001, L"1.0 GB"},
        {123456789012, L"123.5 GB"},
        {UINT64_MAX, L"18446744073.7 GB"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.total);
        EXPECT_EQ(InstallQuestion(L"X\\", row.total, 0), kAsk + L"X\\\n\nSe descargar\u00e1n " + row.text + L".");
    }
}

TEST(InstallQuestion, NeverCountsDataUltraBytes) {
    std::vector<Entry> entries = {
        Sized("Main.exe", 1000000000), Sized("DataUltra/big.pak", 7000000000), Sized("dataultra/b", 5),
        Sized("DATAULTRA/c", 5),       Sized("Data/a.pak", 499999999),         Sized("OrvantisKesh.exe", 1),
        Sized("DataUltraX/d", 0),      Sized("Data/DataUltra/e", 0),
    };
    EXPECT_EQ(InstallBytes(entries), 1500000000u);
}

struct InstallFolderTest : GameFolderTest {
    void TearDown() override {
        gAssumeYes = false;
        GameFolderTest::TearDown();
    }
};

TEST_F(InstallFolderTest, CountsOnlyItemsThatAreNotTheLaunchersOwn) {
    EXPECT_EQ(CountOtherItems(), 0);
    WriteFileBytes(Path(L"orvantiskesh.EXE"), "launcher");
    WriteFileBytes(Path(L"orvantis_update.log"), "log");
    WriteFileBytes(Path(L"orvantis_update.cache"), "cache");
    WriteFileBytes(Path(L"orvantis_update.cache.part"), "any name with the prefix");
    EXPECT_EQ(CountOtherItems(), 0);
    ASSERT_TRUE(CreateDirectoryW(Path(L"Screenshots").c_str(), nullptr));
    WriteFileBytes(Path(L"Screenshots\\a.png"), "inside a folder: not counted");
    WriteFileBytes(Path(L"OrvantisKesh.old.exe"), "old");
    EXPECT_EQ(CountOtherItems(), 2);
}

// The prefix is compared case-sensitively: only the exact spelling is the launcher's.
TEST_F(InstallFolderTest, CountsThePrefixInOtherLetterCase) {
    WriteFileBytes(Path(L"ORVANTIS_UPDATE.LOG"), "not ours");
    WriteFileBytes(Path(L"Orvantis_update.cache"), "not ours");
    EXPECT_EQ(CountOtherItems(), 2);
}

TEST_F(InstallFolderTest, AnUnlistableFolderCountsAsEmpty) {
    WriteFileBytes(Path(L"a"), "x");
    gFolder = folder + L"missing\\";
    EXPECT_EQ(CountOtherItems(), 0);
    gFolder = folder;
}

TEST_F(InstallFolderTest, AsksWhenMainExeOrDataIsMissing) {
    EXPECT_TRUE(NeedsInstall());
    WriteFileBytes(Path(L"Main.exe"), "game");
    EXPECT_TRUE(NeedsInstall());
    ASSERT_TRUE(CreateDirectoryW(Path(L"Data").c_str(), nullptr));
    EXPECT_FALSE(NeedsInstall());
    DeleteFileW(Path(L"Main.exe").c_str());
    EXPECT_TRUE(NeedsInstall());
}

TEST_F(InstallFolderTest, RefusalPostsQuitFlagAndAnnouncesNothing) {
    MessageWindow window(IDNO);
    for (const wchar_t* name : {L"a", L"b", L"c", L"d"}) WriteFileBytes(Path(name), "x");
    std::vector<Entry> entries = {Sized("Main.exe", 1500000000)};

    EXPECT_FALSE(ConfirmInstall(entries));
    ASSERT_TRUE(window.WaitFinished(10000));
    EXPECT_EQ(window.Finished(), std::vector<int>{1});
    ASSERT_EQ(window.Questions().size(), 1u);
    EXPECT_EQ(window.Questions()[0], kAsk + folder + L"\n\nSe descargar\u00e1n 1.5 GB." + kWarning);
    EXPECT_TRUE(window.Statuses().empty());
}

TEST_F(InstallFolderTest, YesOrAssumeYesAnnouncesTheInstall) {
    struct Row {
        const char* name;
        bool assumeYes;
        int answer;
        size_t questions;
    } rows[] = {{"answered yes", false, IDYES, 1}, {"--yes", true, IDNO, 0}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        MessageWindow window(row.answer);
        gAssumeYes = row.assumeYes;
        EXPECT_TRUE(ConfirmInstall({Sized("Main.exe", 10)}));
        // kMsgAsk is sent, so any question is already recorded; the status is posted.
        EXPECT_EQ(window.Questions().size(), row.questions);
        for (int i = 0; i < 100 && window.Statuses().empty(); ++i) Sleep(20);
        ASSERT_EQ(window.Statuses().size(), 1u);
        EXPECT_EQ(window.Statuses()[0].text, L"Instalando Orvantis Kesh...");
        EXPECT_EQ(window.Statuses()[0].percent, -1);
        EXPECT_TRUE(window.Finished().empty());
    }
}

}  // namespace
}  // namespace orvantis::test
