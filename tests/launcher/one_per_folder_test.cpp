// One launcher per game folder: the key that names a folder, and two real launchers under a display.
#include "launcher/one_per_folder.h"

#include <gtest/gtest.h>

#include <map>
#include <string>

#include "launcher/constants.h"
#include "tests/support/launcher_probe.h"
#include "tests/support/links.h"
#include "tests/support/temp_folder.h"

namespace orvantis::test {
namespace {

constexpr DWORD kWait = 20000;

struct KeyRow {
    const char* name;
    std::wstring a;
    std::wstring b;
    bool same;
};

TEST(FolderKey, NamesAFolderAsWindowsComparesNames) {
    const KeyRow rows[] = {
        {"letter case", L"C:\\Juegos\\Orvantis\\", L"c:\\JUEGOS\\orvantis\\", true},
        {"accented letters in other case", L"C:\\M\u00fasica\\Juego\\", L"C:\\M\u00daSICA\\JUEGO\\", true},
        {"the extended form", L"C:\\Juegos\\Orvantis\\", L"\\\\?\\C:\\Juegos\\Orvantis\\", true},
        {"a network share in the extended form", L"\\\\server\\share\\Juego\\",
         L"\\\\?\\UNC\\server\\share\\Juego\\", true},
        {"a dot segment", L"C:\\Juegos\\.\\Orvantis\\", L"C:\\Juegos\\Orvantis\\", true},
        {"a sibling with a longer name", L"C:\\Juegos\\Orvantis\\", L"C:\\Juegos\\Orvantis2\\", false},
        {"a parent folder", L"C:\\Juegos\\Orvantis\\", L"C:\\Juegos\\", false},
        {"another drive", L"C:\\Juegos\\Orvantis\\", L"D:\\Juegos\\Orvantis\\", false},
    };
    for (const KeyRow& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(FolderKey(row.a) == FolderKey(row.b), row.same);
    }
    // A name fit for a kernel object, whatever the folder's length.
    std::wstring deep = L"C:\\" + std::wstring(400, L'x') + L"\\";
    EXPECT_EQ(FolderKey(deep).size(), 64u);
}

TEST(FolderKey, TakesAShortNameForItsLongForm) {
    std::wstring root = MakeTempFolder(L"key");
    ASSERT_FALSE(root.empty());
    std::wstring folder = root + L"carpeta con nombre largo\\";
    ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
    wchar_t shortName[MAX_PATH] = {};
    DWORD n = GetShortPathNameW(folder.c_str(), shortName, MAX_PATH);
    std::wstring alias(shortName, n);
    bool hasShortNames = n > 0 && n < MAX_PATH && _wcsicmp(alias.c_str(), folder.c_str()) != 0;
    if (hasShortNames) {
        EXPECT_EQ(FolderKey(alias), FolderKey(folder)) << "short name " << alias.c_str();
    }
    RemoveTree(root);
    if (!hasShortNames) GTEST_SKIP() << "this file system keeps no short names";
}

// The same folder reached through a folder link (a junction on Windows) is the same folder.
TEST(FolderKey, TakesAFolderLinkForTheFolderItLeadsTo) {
    std::wstring root = MakeTempFolder(L"key");
    ASSERT_FALSE(root.empty());
    ASSERT_TRUE(CreateDirectoryW((root + L"juego").c_str(), nullptr));
    bool linked = PlantLink(root + L"acceso", root + L"juego");
    if (linked) {
        EXPECT_EQ(FolderKey(root + L"acceso\\"), FolderKey(root + L"juego\\"));
        EXPECT_NE(FolderKey(root + L"acceso\\"), FolderKey(root));
        RemoveLink(root + L"acceso");
    }
    RemoveTree(root);
    if (!linked) GTEST_SKIP() << "this platform makes no links for a test";
}

// What a folder holds, with sizes and write times: equal only when nothing was touched.
std::map<std::wstring, std::pair<uint64_t, uint64_t>> Snapshot(const std::wstring& folder) {
    std::map<std::wstring, std::pair<uint64_t, uint64_t>> out;
    WIN32_FIND_DATAW data;
    OwnedFind find = FindFirst((folder + L"*").c_str(), &data);
    if (!find) return out;
    do {
        uint64_t size = (uint64_t(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
        uint64_t time = (uint64_t(data.ftLastWriteTime.dwHighDateTime) << 32) | data.ftLastWriteTime.dwLowDateTime;
        out[data.cFileName] = {size, time};
    } while (FindNextFileW(find.h, &data));
    return out;
}

std::wstring Upper(std::wstring text) {
    for (wchar_t& c : text)
        if (c >= L'a' && c <= L'z') c = static_cast<wchar_t>(c - L'a' + L'A');
    return text;
}

// Real launchers against a server that never answers, so that each stays in its update run.
struct TwoLaunchers : ::testing::Test {
    std::wstring root;
    SilentServer server;
    Started first;
    Started second;

    void SetUp() override {
        ASSERT_FALSE(BuiltProgram(kSelfName).empty()) << "OrvantisKesh.exe is not built";
        root = MakeTempFolder(L"two");
        ASSERT_FALSE(root.empty());
    }
    void TearDown() override {
        for (Started* run : {&first, &second}) {
            if (run->process && WaitForSingleObject(run->process.h, 0) == WAIT_TIMEOUT) {
                TerminateProcess(run->process.h, 99);
                WaitForSingleObject(run->process.h, 5000);
            }
        }
        RemoveTree(root);
    }

    std::wstring GameFolder(const std::wstring& name) {
        std::wstring folder = root + name + L"\\";
        EXPECT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
        EXPECT_TRUE(CopyInto(BuiltProgram(kSelfName), folder + kSelfName));
        return folder;
    }
    std::wstring Args(const std::wstring& extra = L"") {
        return L"--server 127.0.0.1:" + std::to_wstring(server.port) + extra;
    }
    HWND StartAndWait(const std::wstring& exe, const std::wstring& args, Started* run) {
        if (!StartProgram(exe, args, root, run)) return nullptr;
        return WaitForProcessWindow(run->pid, kClassName, kCaption, kWait);
    }
};

TEST_F(TwoLaunchers, ASecondOneInTheSameFolderShowsTheFirstAndTouchesNothing) {
    std::wstring folder = GameFolder(L"juego");
    HWND window = StartAndWait(folder + kSelfName, Args(), &first);
    ASSERT_NE(window, nullptr) << "the first launcher's window did not appear";
    ASSERT_TRUE(WaitUntil([&] { return server.accepted > 0; }, kWait)) << "the first run never asked the server";
    ASSERT_TRUE(WaitUntil([&] { return Exists(folder + kLogName); }, kWait));
    // What a verify-only first launcher has just written and is about to report on.
    WriteFileBytes(folder + kResultName, "ready");

    struct Row {
        const char* name;
        std::wstring extra;
        DWORD code;
    };
    // The second start names the folder in other letter case, as a shortcut may.
    const Row rows[] = {{"a player's second start", L"", 0}, {"a verify-only run", L" --yes --verify-only", 1}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        ShowWindow(window, SW_MINIMIZE);
        ASSERT_TRUE(WaitUntil([&] { return IsIconic(window) != FALSE; }, kWait));
        auto before = Snapshot(folder);
        ASSERT_TRUE(StartProgram(Upper(folder) + kSelfName, Args(row.extra), root, &second));
        DWORD code = 99;
        ASSERT_TRUE(WaitForExit(second.process.h, kWait, &code)) << "the second launcher did not leave";
        EXPECT_EQ(code, row.code);
        EXPECT_EQ(Snapshot(folder), before) << "the second launcher touched the folder";
        EXPECT_EQ(ReadFileBytes(folder + kResultName), "ready") << "the first launcher's result was touched";
        EXPECT_FALSE(IsIconic(window)) << "the first window was not brought back";
        EXPECT_EQ(GetForegroundWindow(), window) << "the first window is not in front";
        EXPECT_EQ(server.accepted.load(), 1) << "the second launcher asked the server";
    }
    EXPECT_EQ(WaitForSingleObject(first.process.h, 0), static_cast<DWORD>(WAIT_TIMEOUT)) << "the first one ended";
}

TEST_F(TwoLaunchers, LaunchersInTwoFoldersRunSideBySide) {
    std::wstring one = GameFolder(L"uno");
    std::wstring two = GameFolder(L"unos");  // a name that begins with the other's
    HWND a = StartAndWait(one + kSelfName, Args(), &first);
    ASSERT_NE(a, nullptr);
    HWND b = StartAndWait(two + kSelfName, Args(), &second);
    ASSERT_NE(b, nullptr) << "the launcher of the second folder did not open its window";
    ASSERT_TRUE(WaitUntil([&] { return server.accepted >= 2; }, kWait)) << "both runs should ask the server";
    for (Started* run : {&first, &second})
        EXPECT_EQ(WaitForSingleObject(run->process.h, 0), static_cast<DWORD>(WAIT_TIMEOUT));
    for (HWND w : {a, b}) PostMessageW(w, WM_CLOSE, 0, 0);
    for (Started* run : {&first, &second}) {
        DWORD code = 99;
        ASSERT_TRUE(WaitForExit(run->process.h, kWait, &code));
        EXPECT_EQ(code, 0u);
    }
}

}  // namespace
}  // namespace orvantis::test
