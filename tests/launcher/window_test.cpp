// The real OrvantisKesh.exe under a display: its window, its end-of-run state, the game start.
// Every launcher is pointed at a loopback server, never at the default hosts.
#include <gtest/gtest.h>

#include <string>

#include "launcher/constants.h"
#include "launcher/text.h"
#include "launcher/window.h"
#include "tests/support/launcher_probe.h"
#include "tests/support/play_texts.h"
#include "tests/support/temp_folder.h"

#include <commctrl.h>

namespace orvantis::test {
namespace {

constexpr DWORD kWait = 20000;

std::wstring Port(uint16_t port) { return L"--server 127.0.0.1:" + std::to_wstring(port); }

std::wstring WithoutTrailingBackslash(std::wstring path) {
    if (!path.empty() && path.back() == L'\\') path.pop_back();
    return path;
}

struct LauncherWindow : ::testing::Test {
    std::wstring root;    // the working folder the launcher is started in: not the game folder
    std::wstring folder;  // the game folder, with blanks in its name
    std::wstring launcher;
    Started run;
    HWND window = nullptr;

    void SetUp() override {
        std::wstring built = BuiltProgram(kSelfName);
        ASSERT_FALSE(built.empty()) << "OrvantisKesh.exe is not built";
        root = MakeTempFolder(L"window");
        ASSERT_FALSE(root.empty());
        folder = root + L"carpeta del juego\\";
        ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
        launcher = folder + kSelfName;
        ASSERT_TRUE(CopyInto(built, launcher));
    }

    void TearDown() override {
        if (run.process && WaitForSingleObject(run.process.h, 0) == WAIT_TIMEOUT) {
            TerminateProcess(run.process.h, 99);
            WaitForSingleObject(run.process.h, 5000);
        }
        RemoveTree(root);
    }

    void AddGame() {
        std::wstring game = BuiltProgram(L"tools\\fake_game.exe");
        ASSERT_FALSE(game.empty()) << "tools\\fake_game.exe is not built";
        ASSERT_TRUE(CopyInto(game, folder + kGameName));
    }

    void Launch(const std::wstring& args) {
        ASSERT_TRUE(StartProgram(launcher, args, root, &run));
        window = WaitForProcessWindow(run.pid, kClassName, kCaption, kWait);
        ASSERT_NE(window, nullptr) << "the launcher window did not appear";
    }

    HWND Play() const { return GetDlgItem(window, kPlayId); }

    // What the update thread would post at the end of a run; the silent server keeps the
    // real run from ever getting there first.
    void Finish() {
        ASSERT_TRUE(PostMessageW(window, kMsgFinished, 0, 0));
        ASSERT_TRUE(WaitUntil([&] { return IsWindowEnabled(Play()) != FALSE; }, kWait));
    }

    void Click() { ASSERT_TRUE(PostMessageW(window, WM_COMMAND, MAKEWPARAM(kPlayId, BN_CLICKED), 0)); }

    void CloseAndExpectExit0() {
        PostMessageW(window, WM_CLOSE, 0, 0);
        DWORD code = 99;
        ASSERT_TRUE(WaitForExit(run.process.h, kWait, &code)) << "the launcher did not end";
        EXPECT_EQ(code, 0u);
    }

    // The game's record: its command line and its working folder.
    bool GameRecord(std::wstring* commandLine, std::wstring* cwd) {
        std::string bytes;
        if (!WaitUntil([&] { return Exists(folder + L"fake_game.record"); }, kWait)) return false;
        bytes = ReadFileBytes(folder + L"fake_game.record");
        size_t split = bytes.find('\n');
        if (split == std::string::npos || bytes.back() != '\n') return false;
        *commandLine = Wide(bytes.substr(0, split));
        *cwd = Wide(bytes.substr(split + 1, bytes.size() - split - 2));
        return true;
    }

    void ExpectGameStartedHere() {
        std::wstring commandLine, cwd;
        ASSERT_TRUE(GameRecord(&commandLine, &cwd)) << "the game did not start";
        EXPECT_EQ(commandLine, L"\"" + folder + L"Main.exe\" /orvantis");
        EXPECT_EQ(WithoutTrailingBackslash(cwd), WithoutTrailingBackslash(folder));
    }
};

// Held at the moment the update thread is created: start-up is complete and nothing has
// been reported yet.
TEST_F(LauncherWindow, OpensFixedWindowPreparingWithPlayDisabledAndDeletesOldCopy) {
    WriteFileBytes(folder + kOldSelfName, "old launcher");
    WriteFileBytes(root + kOldSelfName, "not in the game folder");
    SilentServer server;
    bool inspected = false;
    auto inspect = [&](HWND w) {
        inspected = true;
        wchar_t text[64] = {};
        GetWindowTextW(w, text, 64);
        EXPECT_STREQ(text, L"Orvantis Kesh");
        RECT r = {};
        GetWindowRect(w, &r);
        EXPECT_EQ(r.right - r.left, 540);
        EXPECT_EQ(r.bottom - r.top, 190);
        LONG style = GetWindowLongW(w, GWL_STYLE);
        EXPECT_EQ(style & (WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX), WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX);
        EXPECT_EQ(style & (WS_THICKFRAME | WS_MAXIMIZEBOX), 0) << "the window must not be resizable";
        HWND status = FindWindowExW(w, nullptr, L"Static", nullptr);
        ASSERT_NE(status, nullptr);
        GetWindowTextW(status, text, 64);
        EXPECT_STREQ(text, L"Preparando...");
        EXPECT_NE(FindWindowExW(w, nullptr, PROGRESS_CLASSW, nullptr), nullptr);
        HWND play = GetDlgItem(w, kPlayId);
        ASSERT_NE(play, nullptr);
        GetWindowTextW(play, text, 64);
        EXPECT_STREQ(text, L"Jugar");
        EXPECT_FALSE(IsWindowEnabled(play));
        EXPECT_FALSE(Exists(folder + kOldSelfName)) << "the old launcher copy must be gone before the window";
    };
    ASSERT_TRUE(StartHeldAtFirstThread(launcher, Port(server.port), root, kClassName, inspect, &run, kWait));
    ASSERT_TRUE(inspected);
    EXPECT_TRUE(Exists(root + kOldSelfName)) << "only the game folder's copy is deleted";
    window = WaitForProcessWindow(run.pid, kClassName, kCaption, kWait);
    ASSERT_NE(window, nullptr);
    CloseAndExpectExit0();
}

TEST_F(LauncherWindow, PlayStaysDisabledUntilTheRunIsFinished) {
    ASSERT_NO_FATAL_FAILURE(AddGame());
    SilentServer server;
    ASSERT_NO_FATAL_FAILURE(Launch(Port(server.port)));
    ASSERT_TRUE(WaitUntil([&] { return server.accepted > 0; }, kWait)) << "the update run never asked the server";
    // The run posts its first status before it asks: once the window shows it, the window has
    // handled everything the run sent, and the run now waits on the silent server for good.
    HWND status = FindWindowExW(window, nullptr, L"Static", nullptr);
    ASSERT_TRUE(WaitUntil([&] { return TextOf(status) == L"Buscando actualizaciones..."; }, kWait))
        << "the window never showed the run's first status";
    EXPECT_FALSE(IsWindowEnabled(Play()));
    EXPECT_EQ(SendMessageW(FindWindowExW(window, nullptr, PROGRESS_CLASSW, nullptr), PBM_GETPOS, 0, 0), 0);

    ASSERT_NO_FATAL_FAILURE(Finish());
    EXPECT_EQ(SendMessageW(FindWindowExW(window, nullptr, PROGRESS_CLASSW, nullptr), PBM_GETPOS, 0, 0), 100);
    // The run did not say the folder is ready, so nothing starts by itself. The start by itself
    // is a timer of 1.5 s from the finish, so its absence is waited for three times as long (a
    // loaded machine can only make the timer later, never this check fail wrongly).
    EXPECT_FALSE(WaitUntil([&] { return Exists(folder + L"fake_game.record"); }, 4500)) << "the game started";
    EXPECT_EQ(WaitForSingleObject(run.process.h, 0), static_cast<DWORD>(WAIT_TIMEOUT));
    CloseAndExpectExit0();
}

TEST_F(LauncherWindow, ClosingInTheMiddleOfTheRunEndsWithZero) {
    SilentServer server;
    ASSERT_NO_FATAL_FAILURE(Launch(Port(server.port)));
    ASSERT_TRUE(WaitUntil([&] { return server.accepted > 0; }, kWait)) << "the update run never asked the server";
    EXPECT_FALSE(IsWindowEnabled(Play()));
    CloseAndExpectExit0();
}

// Scripts read 0 as "ready": a verify-only run closed before its end verified nothing, and the
// result of the run before it is gone from the moment it starts.
TEST_F(LauncherWindow, ClosingAVerifyOnlyRunBeforeItsEndEndsWithOneAndNoResult) {
    ASSERT_NO_FATAL_FAILURE(AddGame());
    WriteFileBytes(folder + kResultName, "ready");
    SilentServer server;
    ASSERT_NO_FATAL_FAILURE(Launch(Port(server.port) + L" --yes --verify-only"));
    ASSERT_TRUE(WaitUntil([&] { return server.accepted > 0; }, kWait)) << "the update run never asked the server";
    EXPECT_FALSE(Exists(folder + kResultName)) << "the last run's result is still there";
    PostMessageW(window, WM_CLOSE, 0, 0);
    DWORD code = 99;
    ASSERT_TRUE(WaitForExit(run.process.h, kWait, &code)) << "the launcher did not end";
    EXPECT_EQ(code, 1u);
    EXPECT_FALSE(Exists(folder + kResultName));
}

TEST(ClosedExitCode, OneOnlyForAVerifyOnlyRunThatDidNotEndReady) {
    for (bool runOver : {false, true}) {
        for (bool ready : {false, true}) {
            SCOPED_TRACE(std::to_string(runOver) + std::to_string(ready));
            EXPECT_EQ(ClosedExitCode(false, runOver, ready), 0);
            EXPECT_EQ(ClosedExitCode(true, runOver, ready), runOver && ready ? 0 : 1);
        }
    }
}

TEST_F(LauncherWindow, PlayStartsTheGameQuotedInAFolderWithBlanksAndEnds) {
    ASSERT_NO_FATAL_FAILURE(AddGame());
    SilentServer server;
    ASSERT_NO_FATAL_FAILURE(Launch(Port(server.port)));
    ASSERT_NO_FATAL_FAILURE(Finish());
    ASSERT_NO_FATAL_FAILURE(Click());
    DWORD code = 99;
    ASSERT_TRUE(WaitForExit(run.process.h, kWait, &code)) << "the launcher stayed open after the start";
    EXPECT_EQ(code, 0u);
    ExpectGameStartedHere();
}

// Without an answer from the web the run ends at once, and with Main.exe present the game
// starts by itself.
TEST_F(LauncherWindow, UnreachableServerStartsThePresentGameByItself) {
    ASSERT_NO_FATAL_FAILURE(AddGame());
    ASSERT_NO_FATAL_FAILURE(Launch(Port(RefusedPort())));
    DWORD code = 99;
    ASSERT_TRUE(WaitForExit(run.process.h, kWait, &code)) << "the game was not started by itself";
    EXPECT_EQ(code, 0u);
    ExpectGameStartedHere();
}

TEST_F(LauncherWindow, MissingGameShowsTheErrorAndStaysOpen) {
    SilentServer server;
    ASSERT_NO_FATAL_FAILURE(Launch(Port(server.port)));
    ASSERT_NO_FATAL_FAILURE(Finish());
    for (int attempt = 0; attempt < 2; ++attempt) {
        SCOPED_TRACE(attempt == 0 ? "first press" : "pressed again");
        ASSERT_NO_FATAL_FAILURE(Click());
        HWND box = WaitForProcessWindow(run.pid, L"#32770", kCaption, kWait);
        ASSERT_NE(box, nullptr) << "no message box";
        HWND text = GetDlgItem(box, 0xFFFF);
        ASSERT_NE(text, nullptr);
        EXPECT_EQ(TextOf(text), kMissingGameText);
        PostMessageW(box, WM_COMMAND, IDOK, 0);
        ASSERT_TRUE(WaitUntil([&] { return !IsWindow(box); }, kWait));
        EXPECT_EQ(WaitForSingleObject(run.process.h, 500), static_cast<DWORD>(WAIT_TIMEOUT));
        EXPECT_TRUE(IsWindowEnabled(Play()));
    }
    CloseAndExpectExit0();
}

}  // namespace
}  // namespace orvantis::test
