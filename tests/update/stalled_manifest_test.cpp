// A site host that keeps the manifest coming too slowly to ever finish: the player is told
// there is no connection and plays with the files present, as when the host is down.
#include <gtest/gtest.h>

#include "launcher/constants.h"
#include "launcher/globals.h"
#include "tests/support/message_window.h"
#include "tests/support/origin.h"
#include "tests/support/signing.h"
#include "tests/support/temp_folder.h"
#include "transfer/http.h"
#include "update/update.h"

namespace orvantis::test {
namespace {

const std::wstring kNoConnection = L"Sin conexi\u00f3n con la web: se juega con los archivos que tienes.";

struct StalledManifestTest : GameFolderTest {
    Origin origin;
    TransferLimits saved = gTransferLimits;

    void SetUp() override {
        GameFolderTest::SetUp();
        gSite = Endpoint{L"127.0.0.1", origin.port, false};
        gFiles = gSite;
        gReady = false;
        gTransferLimits.headMs = 1500;
        gTransferLimits.slowMs = 1500;
    }
    void TearDown() override {
        gTransferLimits = saved;
        gSite = Endpoint{kHost, 443, true};
        gFiles = Endpoint{kFilesHost, 443, true};
        gReady = false;
        GameFolderTest::TearDown();
    }
};

TEST_F(StalledManifestTest, NoProgressIsNoConnectionAndTheGameStaysPlayable) {
    // A manifest that is signed, so that all of it arriving would be accepted.
    const std::string manifest =
        "{\"files\":[{\"path\":\"Main.exe\",\"size\":4,\"sha256\":\"" + HexSha256("game") + "\"}]}";
    Reply body = Fixed(200, manifest);
    body.signature = SignHex(manifest);
    body.dripEveryMs = 100;
    Reply head = body;
    head.dripHead = true;
    Reply stalled = body;
    stalled.dripEveryMs = 0;
    stalled.stallAfter = 10;
    struct Row {
        const char* name;
        Reply reply;
    } rows[] = {
        {"a byte at a time in the body", body},
        {"a byte at a time in the head", head},
        {"part of the body, then nothing", stalled},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        WriteFileBytes(Path(L"Main.exe"), "old game");
        origin.Script("/update/manifest.json", {row.reply});
        MessageWindow window;
        gReady = false;
        ASSERT_TRUE(RunUpdate(window, 60000));
        window.Flush();
        EXPECT_EQ(window.Finished(), std::vector<int>{0});
        EXPECT_EQ(window.Last().text, kNoConnection);
        EXPECT_EQ(window.Last().percent, 100);
        EXPECT_TRUE(gReady);
        EXPECT_EQ(ReadFileBytes(Path(L"Main.exe")), "old game");
        EXPECT_FALSE(Exists(Path(L"config.ini")));
    }
}

}  // namespace
}  // namespace orvantis::test
