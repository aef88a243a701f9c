// The end of the update run: downloads, the cache refreshed from the manifest, closing texts.
#include <gtest/gtest.h>

#include <algorithm>

#include "launcher/constants.h"
#include "launcher/globals.h"
#include "launcher/text.h"
#include "manifest/cache.h"
#include "tests/support/message_window.h"
#include "tests/support/origin.h"
#include "tests/support/signing.h"
#include "tests/support/temp_folder.h"
#include "transfer/fetch.h"
#include "update/update.h"

namespace orvantis::test {
namespace {

const std::wstring kPartial =
    L" La actualizaci\u00f3n qued\u00f3 a medias: vuelve a abrir el lanzador m\u00e1s tarde, o descarga el juego "
    L"completo en la web (Descargas).";

struct DownloadPhaseTest : ::testing::Test {
    uint32_t savedWaits[5] = {};

    void SetUp() override {
        std::copy(gRetryWaits, gRetryWaits + 5, savedWaits);
        for (uint32_t& wait : gRetryWaits) wait = 1;
        gReady = false;
        gAssumeYes = true;
    }
    void TearDown() override {
        std::copy(savedWaits, savedWaits + 5, gRetryWaits);
        gSite = Endpoint{kHost, 443, true};
        gFiles = Endpoint{kFilesHost, 443, true};
        gReady = false;
        gAssumeYes = false;
        gFolder.clear();
    }

    // A fresh game folder holding Main.exe and an empty Data, served by origin; empty when
    // the folder could not be made.
    std::wstring Installation(const Origin& origin) {
        std::wstring folder = MakeTempFolder(L"phase");
        if (folder.empty()) return folder;
        gFolder = folder;
        gSite = Endpoint{L"127.0.0.1", origin.port, false};
        gFiles = gSite;
        WriteFileBytes(folder + L"Main.exe", "game");
        CreateDirectoryW((folder + L"Data").c_str(), nullptr);
        return folder;
    }
};

// Main.exe and Data are there; `fresh` files of the release are missing. The closing text
// counts them; the cache afterwards vouches for them without their being read again.
TEST_F(DownloadPhaseTest, ClosingTextCountsTheNewFiles) {
    struct Row {
        const char* name;
        std::vector<std::pair<std::string, std::string>> fresh;
        std::wstring closing;
    } rows[] = {
        {"none", {}, L"El juego est\u00e1 al d\u00eda. Abriendo el juego..."},
        {"one", {{"Data/new.bin", "new"}}, L"Actualizaci\u00f3n terminada: 1 archivo nuevo. Abriendo el juego..."},
        {"two, one in new folders",
         {{"Data/new.bin", "new"}, {"Data/Deep/er/more.bin", std::string(100000, 'x')}},
         L"Actualizaci\u00f3n terminada: 2 archivos nuevos. Abriendo el juego..."},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        Origin origin;
        std::wstring folder = Installation(origin);
        ASSERT_FALSE(folder.empty());
        std::vector<Entry> entries{FileEntry("Main.exe", "game")};
        std::vector<std::string> objects;
        for (auto& [path, content] : row.fresh) {
            entries.push_back(FileEntry(path, content));
            objects.push_back(content);
        }
        origin.Publish(ManifestText(entries), objects);

        MessageWindow window;
        ASSERT_TRUE(RunUpdate(window));
        window.Flush();
        EXPECT_EQ(window.Last().text, row.closing);
        EXPECT_EQ(window.Last().percent, 100);
        EXPECT_TRUE(gReady);
        Cache cache = LoadCache();
        for (auto& [path, content] : row.fresh) {
            SCOPED_TRACE(path);
            std::wstring local = folder + Wide(path);
            std::replace(local.begin(), local.end(), L'/', L'\\');
            EXPECT_EQ(ReadFileBytes(local), content);
            WIN32_FILE_ATTRIBUTE_DATA info;
            ASSERT_TRUE(GetFileAttributesExW(local.c_str(), GetFileExInfoStandard, &info));
            ASSERT_EQ(cache.count(path), 1u);
            EXPECT_EQ(cache[path].sha256, HexSha256(content));
            EXPECT_EQ(cache[path].size, content.size());
            EXPECT_EQ(cache[path].writeTime,
                      (uint64_t(info.ftLastWriteTime.dwHighDateTime) << 32) | info.ftLastWriteTime.dwLowDateTime);
        }
        EXPECT_TRUE(Exists(folder + L"config.ini"));
        origin.Stop();
        RemoveTree(folder);
    }
}

// One file arrives, one cannot be had: the run ends partial with the worker's message
// first, keeps gReady false, and the cache holds the file that did arrive.
TEST_F(DownloadPhaseTest, PartialUpdateStartsWithTheFailure) {
    Origin origin;
    std::wstring folder = Installation(origin);
    ASSERT_FALSE(folder.empty());
    origin.Publish(ManifestText({FileEntry("Main.exe", "game"), FileEntry("Data/ok.bin", "ok"),
                                 FileEntry("Data/gone.bin", "never published")}),
                   {"ok"});
    // Slow refusals, so that the good file is surely in place before the run stops.
    Reply missing = Fixed(404);
    missing.delayMs = 300;
    origin.Script("/update/files/" + HexSha256("never published"), {missing});
    MessageWindow window;
    ASSERT_TRUE(RunUpdate(window));
    window.Flush();
    EXPECT_EQ(window.Last().text, L"No se pudo descargar Data/gone.bin." + kPartial);
    EXPECT_EQ(window.Last().percent, 100);
    EXPECT_FALSE(gReady);
    EXPECT_EQ(window.Finished(), std::vector<int>{0});
    Cache cache = LoadCache();
    EXPECT_EQ(cache["Data/ok.bin"].sha256, HexSha256("ok"));
    EXPECT_EQ(cache.count("Data/gone.bin"), 0u);
    EXPECT_FALSE(Exists(folder + L"Data\\gone.bin"));
    EXPECT_FALSE(Exists(folder + L"Data\\gone.bin.part"));
    origin.Stop();
    RemoveTree(folder);
}

TEST(PartialText, KeepsTheLeadingSpaceAfterAnyError) {
    EXPECT_EQ(PartialText(L""), kPartial);
    EXPECT_EQ(PartialText(L"No se pudo descargar a.bin."), L"No se pudo descargar a.bin." + kPartial);
}

}  // namespace
}  // namespace orvantis::test
