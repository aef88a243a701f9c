#include "update/update.h"

#include <gtest/gtest.h>

#include <map>

#include "launcher/constants.h"
#include "launcher/globals.h"
#include "launcher/text.h"
#include "tests/support/message_window.h"
#include "tests/support/origin.h"
#include "tests/support/signing.h"
#include "tests/support/temp_folder.h"

namespace orvantis::test {
namespace {

const std::wstring kSearching = L"Buscando actualizaciones...";
const std::wstring kNoConnection = L"Sin conexi\u00f3n con la web: se juega con los archivos que tienes.";
const std::wstring kNoManifest = L"No hay actualizaci\u00f3n publicada: se juega con los archivos que tienes.";
const std::wstring kBadSignature =
    L"La actualizaci\u00f3n no tiene una firma v\u00e1lida y no se aplic\u00f3. Avisa a un administrador.";
const std::wstring kUnreadable = L"La lista de archivos de la actualizaci\u00f3n no se pudo leer.";
const std::wstring kInvalidEntry = L"La actualizaci\u00f3n trae una ruta no v\u00e1lida y no se aplic\u00f3.";
const std::wstring kUpToDate = L"El juego est\u00e1 al d\u00eda. Abriendo el juego...";
const std::wstring kPartial =
    L" La actualizaci\u00f3n qued\u00f3 a medias: vuelve a abrir el lanzador m\u00e1s tarde, o descarga el juego "
    L"completo en la web (Descargas).";
const std::wstring kGameVanished =
    L"Main.exe desapareci\u00f3 despu\u00e9s de descargarlo: seguramente lo quit\u00f3 el antivirus. Pulsa Jugar "
    L"para ver c\u00f3mo recuperarlo.";
const std::wstring kOlderRelease =
    L"La actualizaci\u00f3n es m\u00e1s antigua que la que ya tienes y no se aplic\u00f3. Avisa a un "
    L"administrador.";
const std::string kManifest = "/update/manifest.json";

// The body as the publisher numbers it: the release first.
std::string Numbered(uint64_t release, const std::string& body) {
    return "{\"release\":" + std::to_string(release) + "," + body.substr(1);
}

Reply Answer(int status, const std::string& body, std::optional<std::string> signature = std::nullopt) {
    Reply reply;
    reply.status = status;
    reply.body = body;
    reply.signature = std::move(signature);
    return reply;
}

// Every file of the folder with its bytes, the update log left out (it records every run).
std::map<std::wstring, std::string> Snapshot(const std::wstring& base, const std::wstring& relative = L"") {
    std::map<std::wstring, std::string> out;
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW((base + relative + L"*").c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) return out;
    do {
        std::wstring name = data.cFileName;
        if (name == L"." || name == L".." || name == L"orvantis_update.log") continue;
        if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            out[relative + name + L"\\"] = "";
            for (auto& kv : Snapshot(base, relative + name + L"\\")) out.insert(kv);
        } else {
            out[relative + name] = ReadFileBytes(base + relative + name);
        }
    } while (FindNextFileW(find, &data));
    FindClose(find);
    return out;
}

struct UpdateTest : GameFolderTest {
    Origin origin;
    MessageWindow window;

    void SetUp() override {
        GameFolderTest::SetUp();
        gSite = Endpoint{L"127.0.0.1", origin.port, false};
        gFiles = gSite;
        gReady = false;
        gAssumeYes = false;
    }
    void TearDown() override {
        gSite = Endpoint{kHost, 443, true};
        gFiles = Endpoint{kFilesHost, 443, true};
        gReady = false;
        gAssumeYes = false;
        GameFolderTest::TearDown();
    }

    void PutGame() {
        WriteFileBytes(Path(L"Main.exe"), "game");
        ASSERT_TRUE(CreateDirectoryW(Path(L"Data").c_str(), nullptr));
    }
    void ServeSigned(const std::string& body) { origin.Serve(kManifest, body, SignHex(body)); }

    // Runs the real update thread; the run must post exactly one kMsgFinished.
    void Run(int flag = 0) {
        ASSERT_TRUE(RunUpdate(window));
        window.Flush();
        EXPECT_EQ(window.Finished(), std::vector<int>{flag});
        std::vector<StatusLine> lines = window.Statuses();
        ASSERT_FALSE(lines.empty());
        EXPECT_EQ(lines[0].text, kSearching);
        EXPECT_EQ(lines[0].percent, -1);
    }
    void ExpectLast(const std::wstring& text) {
        EXPECT_EQ(window.Last().text, text);
        EXPECT_EQ(window.Last().percent, 100);
    }
};

Reply Dropped() {
    Reply reply;
    reply.dropBeforeStatus = true;
    return reply;
}

Reply CutShort(const std::string& body, const std::string& signature) {
    Reply reply = Answer(200, body, signature);
    reply.cutAfter = body.size() / 2;
    return reply;
}

TEST_F(UpdateTest, PlaysWithTheFilesPresentWhenNoManifestComes) {
    struct Row {
        const char* name;
        bool reachable;
        std::optional<Reply> reply;  // none: the origin has nothing at the path (404)
        bool mainExe;
        std::wstring text;
    } rows[] = {
        {"refused connection, Main.exe present", false, std::nullopt, true, kNoConnection},
        {"refused connection, no Main.exe", false, std::nullopt, false, kNoConnection},
        {"404, Main.exe present", true, std::nullopt, true, kNoManifest},
        {"404, no Main.exe", true, std::nullopt, false, kNoManifest},
        {"500", true, Answer(500, "oops"), true, kNoManifest},
        {"no answer at all", true, Dropped(), true, kNoConnection},
    };
    uint16_t closedPort = 0;
    {
        Origin gone;
        closedPort = gone.port;
        gone.Stop();
    }
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        MessageWindow runWindow;
        Origin server;
        if (row.reply) server.Script(kManifest, {*row.reply});
        gSite = Endpoint{L"127.0.0.1", row.reachable ? server.port : closedPort, false};
        DeleteFileW(Path(L"Main.exe").c_str());
        if (row.mainExe) WriteFileBytes(Path(L"Main.exe"), "game");
        gReady = !row.mainExe;  // must be overwritten either way

        ASSERT_TRUE(RunUpdate(runWindow));
        runWindow.Flush();
        EXPECT_EQ(runWindow.Finished(), std::vector<int>{0});
        EXPECT_EQ(runWindow.Last().text, row.text);
        EXPECT_EQ(runWindow.Last().percent, 100);
        EXPECT_EQ(gReady, row.mainExe);
        EXPECT_FALSE(Exists(Path(L"config.ini")));
        EXPECT_FALSE(Exists(Path(L"orvantis_update.cache")));
        if (row.reachable) {
            EXPECT_EQ(server.Count(kManifest), 1u);
        }
    }
}

TEST_F(UpdateTest, AManifestOverTheLimitCountsAsNotPublished) {
    PutGame();
    // At the limit the body is taken whole and fails only its (missing) signature.
    std::string body(67108863, ' ');
    origin.Serve(kManifest, body);
    Run();
    ExpectLast(kBadSignature);

    MessageWindow second;
    body.push_back(' ');
    origin.Serve(kManifest, body, SignHex(body));
    gReady = false;
    ASSERT_TRUE(RunUpdate(second));
    second.Flush();
    EXPECT_EQ(second.Last().text, kNoManifest);
    EXPECT_TRUE(gReady);  // Main.exe is there
}

TEST_F(UpdateTest, RefusesEveryKindOfBadSignature) {
    PutGame();
    const std::string body = ManifestText({FileEntry("Main.exe", "game")});
    const std::string good = SignHex(body);
    std::string flipped = good;
    flipped[10] = flipped[10] == '0' ? '1' : '0';
    std::string upper = good;
    for (char& c : upper) c = static_cast<char>(toupper(c));

    struct Row {
        const char* name;
        Reply reply;
        std::wstring text;
    } rows[] = {
        {"no header", Answer(200, body), kBadSignature},
        {"empty header", Answer(200, body, ""), kBadSignature},
        {"odd length", Answer(200, body, good.substr(1)), kBadSignature},
        {"not hex", Answer(200, body, "g" + good.substr(1)), kBadSignature},
        {"one bit flipped", Answer(200, body, flipped), kBadSignature},
        {"signs another body", Answer(200, body, SignHex(body + " ")), kBadSignature},
        {"body cut short", CutShort(body, good), kBadSignature},
        {"upper-case hex is fine", Answer(200, body, upper), kUpToDate},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        MessageWindow runWindow;
        origin.Script(kManifest, {row.reply});
        DeleteFileW(Path(L"config.ini").c_str());
        DeleteFileW(Path(L"orvantis_update.cache").c_str());
        gReady = false;
        ASSERT_TRUE(RunUpdate(runWindow));
        runWindow.Flush();
        EXPECT_EQ(runWindow.Finished(), std::vector<int>{0});
        EXPECT_EQ(runWindow.Last().text, row.text);
        bool accepted = row.text == kUpToDate;
        EXPECT_EQ(gReady, accepted);
        EXPECT_EQ(Exists(Path(L"config.ini")), accepted);
        EXPECT_EQ(Exists(Path(L"orvantis_update.cache")), accepted);
    }
}

TEST_F(UpdateTest, RefusesAListThatCannotBeRead) {
    PutGame();
    for (const char* body : {"not json at all", "{\"files\":[]}", "{\"version\":1}", "{\"files\":[{\"path\":1}]}"}) {
        SCOPED_TRACE(body);
        MessageWindow runWindow;
        ServeSigned(body);
        ASSERT_TRUE(RunUpdate(runWindow));
        runWindow.Flush();
        EXPECT_EQ(runWindow.Last().text, kUnreadable);
        EXPECT_EQ(runWindow.Last().percent, 100);
        EXPECT_FALSE(gReady);
        EXPECT_FALSE(Exists(Path(L"config.ini")));
    }
}

TEST_F(UpdateTest, AnInvalidEntryRefusesTheUpdateWithoutSavingTheCache) {
    PutGame();
    Entry bad = FileEntry("Data/b.bin", "b");
    bad.sha256.pop_back();
    ServeSigned(ManifestText({FileEntry("Main.exe", "game"), FileEntry("Data/a.bin", "a"), bad}));
    Run();
    ExpectLast(kInvalidEntry);
    EXPECT_FALSE(gReady);
    EXPECT_TRUE(Exists(Path(L"config.ini")));
    EXPECT_FALSE(Exists(Path(L"orvantis_update.cache")));
    EXPECT_FALSE(Exists(Path(L"Data\\a.bin")));
}

TEST_F(UpdateTest, AnUpToDateFolderIsReadyToPlay) {
    PutGame();
    WriteFileBytes(Path(L"Data\\a.bin"), "aaa");
    ServeSigned(ManifestText({FileEntry("Main.exe", "game"), FileEntry("Data/a.bin", "aaa"),
                              FileEntry("OrvantisKesh.exe", "a launcher that is never fetched")}));
    Run();
    ExpectLast(kUpToDate);
    EXPECT_TRUE(gReady);
    EXPECT_TRUE(Exists(Path(L"config.ini")));
    std::string cache = ReadFileBytes(Path(L"orvantis_update.cache"));
    EXPECT_NE(cache.find("Data/a.bin"), std::string::npos);
    EXPECT_NE(cache.find(HexSha256("aaa")), std::string::npos);
    EXPECT_EQ(window.Questions().size(), 0u);
    EXPECT_EQ(origin.Count(kManifest), 1u);
}

TEST_F(UpdateTest, MissingFilesLeaveTheUpdateIncomplete) {
    PutGame();
    ServeSigned(ManifestText({FileEntry("Main.exe", "game"), FileEntry("Data/new.bin", "new")}));
    Run();
    std::wstring last = window.Last().text;
    ASSERT_GE(last.size(), kPartial.size());
    EXPECT_EQ(last.substr(last.size() - kPartial.size()), kPartial);
    EXPECT_EQ(window.Last().percent, 100);
    EXPECT_FALSE(gReady);
    // The hashes of the files already checked are kept for the next run.
    EXPECT_NE(ReadFileBytes(Path(L"orvantis_update.cache")).find("Main.exe"), std::string::npos);
}

TEST_F(UpdateTest, AFolderWithoutMainExeIsNotReady) {
    ASSERT_TRUE(CreateDirectoryW(Path(L"Data").c_str(), nullptr));
    WriteFileBytes(Path(L"Data\\a.bin"), "aaa");
    ServeSigned(ManifestText({FileEntry("Data/a.bin", "aaa")}));
    gAssumeYes = true;
    Run();
    ExpectLast(kGameVanished);
    EXPECT_FALSE(gReady);
}

TEST_F(UpdateTest, ARefusedInstallLeavesTheFolderAsItWas) {
    WriteFileBytes(Path(L"OrvantisKesh.exe"), "launcher");
    WriteFileBytes(Path(L"notes.txt"), "mine");
    ASSERT_TRUE(CreateDirectoryW(Path(L"Data").c_str(), nullptr));
    WriteFileBytes(Path(L"Data\\a.bin"), "old");
    WriteFileBytes(Path(L"config.ini"), "[CONNECTION SETTINGS]\r\nServerIP=127.127.127.127\r\n");
    auto before = Snapshot(folder);
    ServeSigned(ManifestText({FileEntry("Main.exe", "game"), FileEntry("Data/a.bin", "new")}));
    window.SetAnswer(IDNO);
    Run(1);
    EXPECT_EQ(Snapshot(folder), before);
    EXPECT_FALSE(gReady);
    ASSERT_EQ(window.Questions().size(), 1u);
    EXPECT_NE(window.Questions()[0].find(L"\n\n" + folder + L"\n\n"), std::wstring::npos);
    for (const StatusLine& line : window.Statuses()) EXPECT_NE(line.text, L"Instalando Orvantis Kesh...");
}

TEST_F(UpdateTest, AcceptedInstallGoesOnToTheCheck) {
    ServeSigned(ManifestText({FileEntry("Main.exe", "game")}));
    window.SetAnswer(IDYES);
    Run();
    ASSERT_EQ(window.Questions().size(), 1u);
    std::vector<StatusLine> lines = window.Statuses();
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines[1].text, L"Instalando Orvantis Kesh...");
    EXPECT_TRUE(Exists(Path(L"config.ini")));
    EXPECT_TRUE(Exists(Path(L"orvantis_update.cache")));
}

// Old files of release 100 against a folder that took 200: a replay puts nothing back.
TEST_F(UpdateTest, AReplayedOlderReleaseIsRefusedAndNothingChanges) {
    PutGame();
    WriteFileBytes(Path(L"Data\\a.bin"), "new");
    WriteFileBytes(Path(L"orvantis_update.release"), "200");
    origin.Serve("/update/files/" + HexSha256("old"), "old");
    const std::vector<Entry> old = {FileEntry("Main.exe", "game"), FileEntry("Data/a.bin", "old")};
    struct Row {
        const char* name;
        std::string body;
    } rows[] = {
        {"a lower number", Numbered(100, ManifestText(old))},
        {"one below", Numbered(199, ManifestText(old))},
        {"no number at all", ManifestText(old)},
    };
    auto before = Snapshot(folder);
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        MessageWindow runWindow;
        ServeSigned(row.body);
        gReady = false;
        ASSERT_TRUE(RunUpdate(runWindow));
        runWindow.Flush();
        EXPECT_EQ(runWindow.Finished(), std::vector<int>{0});
        EXPECT_EQ(runWindow.Last().text, kOlderRelease);
        EXPECT_EQ(runWindow.Last().percent, 100);
        EXPECT_FALSE(gReady);
        EXPECT_EQ(Snapshot(folder), before);
    }
    EXPECT_EQ(origin.Count("/update/files/" + HexSha256("old")), 0u);
}

TEST_F(UpdateTest, ANewerOrTheSameReleaseIsTakenAndRecorded) {
    PutGame();
    WriteFileBytes(Path(L"Data\\a.bin"), "old");
    WriteFileBytes(Path(L"orvantis_update.release"), "100");
    origin.Serve("/update/files/" + HexSha256("new"), "new");
    const std::string body = ManifestText({FileEntry("Main.exe", "game"), FileEntry("Data/a.bin", "new")});
    ServeSigned(Numbered(200, body));
    Run();
    ExpectLast(L"Actualizaci\u00f3n terminada: 1 archivo nuevo. Abriendo el juego...");
    EXPECT_EQ(ReadFileBytes(Path(L"Data\\a.bin")), "new");
    EXPECT_EQ(ReadFileBytes(Path(L"orvantis_update.release")), "200");

    // A rebuild of the same content keeps its number, and the folder takes it again.
    MessageWindow again;
    ASSERT_TRUE(RunUpdate(again));
    again.Flush();
    EXPECT_EQ(again.Last().text, kUpToDate);
    EXPECT_EQ(ReadFileBytes(Path(L"orvantis_update.release")), "200");
}

// As before there were numbers: any signed manifest, numbered or not; a number starts the record.
TEST_F(UpdateTest, AFolderWithoutARecordTakesAnySignedRelease) {
    PutGame();
    const std::string body = ManifestText({FileEntry("Main.exe", "game")});
    struct Row {
        const char* name;
        std::string record;  // empty: no record file
        std::string body;
        std::string after;   // empty: still no record file
    } rows[] = {
        {"unnumbered", "", body, ""},
        {"numbered", "", Numbered(100, body), "100"},
        {"a record cut short", " ", Numbered(50, body), "50"},
        {"a record that is no number", "abc", body, "abc"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        DeleteFileW(Path(L"orvantis_update.release").c_str());
        if (!row.record.empty()) WriteFileBytes(Path(L"orvantis_update.release"), row.record);
        MessageWindow runWindow;
        ServeSigned(row.body);
        ASSERT_TRUE(RunUpdate(runWindow));
        runWindow.Flush();
        EXPECT_EQ(runWindow.Last().text, kUpToDate);
        EXPECT_TRUE(gReady);
        bool present = false;
        std::string after = ReadFileBytes(Path(L"orvantis_update.release"), &present);
        EXPECT_EQ(present, !row.after.empty());
        EXPECT_EQ(after, row.after);
    }
}

// The record says what the folder holds: a release that was refused wrote nothing there.
TEST_F(UpdateTest, ARefusedReleaseLeavesNoRecord) {
    Entry bad = FileEntry("Data/b.bin", "b");
    bad.sha256.pop_back();
    struct Row {
        const char* name;
        bool game;
        int answer;
        std::vector<Entry> entries;
        int flag;
        std::wstring text;
    } rows[] = {
        {"install refused", false, IDNO, {FileEntry("Main.exe", "game")}, 1, L""},
        {"an invalid entry", true, IDYES, {FileEntry("Main.exe", "game"), bad}, 0, kInvalidEntry},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        RemoveTree(folder);
        ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
        if (row.game) PutGame();
        MessageWindow runWindow(row.answer);
        ServeSigned(Numbered(300, ManifestText(row.entries)));
        ASSERT_TRUE(RunUpdate(runWindow));
        runWindow.Flush();
        EXPECT_EQ(runWindow.Finished(), std::vector<int>{row.flag});
        if (!row.text.empty()) {
            EXPECT_EQ(runWindow.Last().text, row.text);
        }
        EXPECT_FALSE(Exists(Path(L"orvantis_update.release")));
    }
}

// A manifest that contradicts itself is signed as well as any: it is refused as a whole before
// the question, config.ini or any download.
TEST_F(UpdateTest, AManifestThatNamesOneFileTwiceIsRefusedBeforeAnythingIsTouched) {
    const std::string pack(64, 'c');
    struct Row {
        const char* name;
        bool game;
        std::vector<Entry> entries;
    } rows[] = {
        {"the same file in other case", true, {FileEntry("Data/a.bin", "one"), FileEntry("data/A.bin", "two")}},
        {"a .part beside its file", true, {FileEntry("Data/a.bin", "one"), FileEntry("Data/a.bin.part", "two")}},
        {"a pack's temporary file", true, {FileEntry(".orvantis_pack_" + pack, "one")}},
        {"a first install", false, {FileEntry("Main.exe", "game"), FileEntry("main.exe.", "other")}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        RemoveTree(folder);
        ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
        if (row.game) PutGame();
        auto before = Snapshot(folder);
        MessageWindow runWindow;
        std::vector<Entry> entries = row.entries;
        for (const Entry& e : entries) origin.Serve("/update/files/" + e.sha256, "x");
        ServeSigned(Numbered(500, ManifestText(entries)));
        gReady = false;
        ASSERT_TRUE(RunUpdate(runWindow));
        runWindow.Flush();
        EXPECT_EQ(runWindow.Finished(), std::vector<int>{0});
        EXPECT_EQ(runWindow.Last().text, kInvalidEntry);
        EXPECT_EQ(runWindow.Questions().size(), 0u);
        EXPECT_FALSE(gReady);
        EXPECT_EQ(Snapshot(folder), before);
        for (const Entry& e : entries) EXPECT_EQ(origin.Count("/update/files/" + e.sha256), 0u);
    }
}

// The log keeps its history and the release record its number, whatever a release lists.
TEST_F(UpdateTest, TheLaunchersOwnFilesInAManifestAreLeftAsTheyAre) {
    PutGame();
    WriteFileBytes(Path(L"orvantis_update.log"), "history\r\n");
    WriteFileBytes(Path(L"orvantis_update.release"), "100");
    const std::vector<Entry> entries = {FileEntry("Main.exe", "game"), FileEntry("orvantis_update.log", "log"),
                                        FileEntry("orvantis_update.release", "1"),
                                        FileEntry("orvantis_verify.result", "ready"),
                                        FileEntry("orvantis_update.cache", "cache")};
    for (const Entry& e : entries) origin.Serve("/update/files/" + e.sha256, "x");
    ServeSigned(Numbered(200, ManifestText(entries)));
    Run();
    ExpectLast(kUpToDate);
    EXPECT_EQ(ReadFileBytes(Path(L"orvantis_update.log")).rfind("history\r\n", 0), 0u);
    EXPECT_EQ(ReadFileBytes(Path(L"orvantis_update.release")), "200");
    EXPECT_FALSE(Exists(Path(L"orvantis_verify.result")));
    for (const Entry& e : entries) EXPECT_EQ(origin.Count("/update/files/" + e.sha256), 0u);
}

TEST_F(UpdateTest, ManifestSinkTakesSixtyFourMiBLessOneAndRefusesOneMore) {
    struct Row {
        const char* name;
        size_t size;
        int32_t status;
    } rows[] = {
        {"at the limit", kManifestLimit, 200},
        {"one byte over", kManifestLimit + 1, -1},
    };
    Http http(gSite);
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        std::string manifest(row.size, 'm');
        manifest.back() = 'z';
        origin.Serve(kManifest, manifest);
        manifest.clear();
        manifest.shrink_to_fit();
        std::string body;
        EXPECT_EQ(http.Get(kManifestPath, BodySink(body, kManifestLimit), nullptr), row.status);
        if (row.status == 200) {
            EXPECT_EQ(body.size(), kManifestLimit);
            EXPECT_EQ(body.back(), 'z');
        }
    }
}

TEST(BodySink, AppendsUntilTheBodyExceedsTheLimit) {
    std::string body = "ab";
    Sink sink = BodySink(body, 5);
    const uint8_t bytes[] = {'c', 'd', 'e', 'f'};
    EXPECT_TRUE(sink(bytes, 3));  // "abcde": exactly at the limit
    EXPECT_EQ(body, "abcde");
    EXPECT_FALSE(sink(bytes + 3, 1));
    EXPECT_EQ(body, "abcdef");
}

TEST(ClosingText, CountsTheNewFiles) {
    EXPECT_EQ(ClosingText(0), kUpToDate);
    EXPECT_EQ(ClosingText(1), L"Actualizaci\u00f3n terminada: 1 archivo nuevo. Abriendo el juego...");
    EXPECT_EQ(ClosingText(2), L"Actualizaci\u00f3n terminada: 2 archivos nuevos. Abriendo el juego...");
    EXPECT_EQ(ClosingText(12345), L"Actualizaci\u00f3n terminada: 12345 archivos nuevos. Abriendo el juego...");
}

}  // namespace
}  // namespace orvantis::test
