// The real launcher under Wine against an in-process origin publishing a signed release.
#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>
#include <vector>

#include "launcher/constants.h"
#include "launcher/globals.h"
#include "launcher/owned.h"
#include "launcher/text.h"
#include "manifest/cache.h"
#include "tests/support/launcher_probe.h"
#include "tests/support/origin.h"
#include "tests/support/signing.h"
#include "tests/support/temp_folder.h"

namespace orvantis {
namespace {

using test::Origin;

std::string Content(size_t size, uint32_t seed) {
    std::string out(size, '\0');
    uint32_t x = seed * 2654435761u + 7;
    for (size_t i = 0; i < size; ++i) {
        x = x * 1664525u + 1013904223u;
        out[i] = static_cast<char>(x >> 24);
    }
    return out;
}

std::string Numbered(const char* prefix, size_t i, const char* suffix) {
    char number[16];
    snprintf(number, sizeof number, "%03zu", i);
    std::string name = prefix;
    name += number;
    name += suffix;
    return name;
}

// A release: every file's content, the manifest entries, and the objects to serve.
struct Release {
    std::vector<Entry> entries;
    std::map<std::string, std::string> contents;  // by path

    void Loose(const std::string& path, const std::string& content) {
        entries.push_back(test::FileEntry(path, content));
        contents[path] = content;
    }
    // One pack holding all these files, one after the other.
    void Packed(const std::vector<std::pair<std::string, std::string>>& files) {
        std::string bytes;
        size_t first = entries.size();
        for (auto& [path, content] : files) {
            Entry e = test::FileEntry(path, content);
            e.offset = bytes.size();
            bytes += content;
            entries.push_back(e);
            contents[path] = content;
        }
        std::string name = test::HexSha256(bytes);
        for (size_t i = first; i < entries.size(); ++i) {
            entries[i].pack = name;
            entries[i].packSize = bytes.size();
        }
        packs[name] = bytes;
    }
    void Publish(Origin& origin) const {
        std::vector<std::string> objects;
        for (auto& [path, content] : contents) objects.push_back(content);
        for (auto& [name, bytes] : packs) objects.push_back(bytes);
        origin.Publish(test::ManifestText(entries), objects);
    }
    std::map<std::string, std::string> packs;
};

// Main.exe, 120 stand-alone files in folders (one empty), two packs of 100 and 90 files.
// newMap, when given, replaces the content of one packed map.
Release Game(const std::string& mainExe, const std::string& newMap = "") {
    Release r;
    r.Loose("Main.exe", mainExe);
    for (size_t i = 0; i < 120; ++i)
        r.Loose(Numbered("Data/Sound/s", i, ".wav"), i == 7 ? "" : Content(500 + i * 97, uint32_t(i)));
    std::vector<std::pair<std::string, std::string>> textures, maps;
    for (size_t i = 0; i < 100; ++i)
        textures.push_back({Numbered("Data/Texture/Ground/t", i, ".ozt"), Content(2000 + i * 31, uint32_t(1000 + i))});
    for (size_t i = 0; i < 90; ++i)
        maps.push_back({Numbered("Data/World1/m", i, ".map"), i == 40 ? "" : Content(300 + i * 53, uint32_t(2000 + i))});
    if (!newMap.empty()) maps[3].second = newMap;
    r.Packed(textures);
    r.Packed(maps);
    return r;
}

std::wstring Local(const std::wstring& folder, const std::string& path) {
    std::wstring local = folder + Wide(path);
    for (wchar_t& c : local)
        if (c == L'/') c = L'\\';
    return local;
}

size_t ObjectRequests(const Origin& origin) {
    size_t n = 0;
    for (auto& r : origin.Requests()) n += r.path.rfind("/update/files/", 0) == 0;
    return n;
}

struct LauncherDownload : ::testing::Test {
    std::wstring folder;
    Origin origin;

    void SetUp() override {
        folder = test::MakeTempFolder(L"e2e game");  // a blank in the path, as players have
        ASSERT_FALSE(folder.empty());
        std::wstring launcher = test::BuiltProgram(kSelfName);
        ASSERT_FALSE(launcher.empty()) << "OrvantisKesh.exe is not built";
        ASSERT_TRUE(test::CopyInto(launcher, folder + kSelfName));
    }
    void TearDown() override {
        origin.Stop();
        test::RemoveTree(folder);
        gFolder.clear();
    }

    // Runs the launcher in the game folder; the exit code, or -1 when it did not end in time.
    int Run(const std::wstring& options, DWORD timeoutMs = 180000) {
        test::Started run;
        if (!test::StartProgram(folder + kSelfName, L"--server " + test::Address(origin) + L" " + options, folder,
                                &run))
            return -2;
        DWORD code = 0;
        if (!test::WaitForExit(run.process.h, timeoutMs, &code)) {
            TerminateProcess(run.process.h, 99);
            WaitForSingleObject(run.process.h, 10000);
            return -1;
        }
        return static_cast<int>(code);
    }
    std::string Result() { return test::ReadFileBytes(folder + kResultName); }
    Cache ReadCache() {
        gFolder = folder;
        return LoadCache();
    }
    void ExpectInstalled(const Release& release) {
        for (auto& [path, content] : release.contents) {
            bool ok = false;
            std::string got = test::ReadFileBytes(Local(folder, path), &ok);
            EXPECT_TRUE(ok && got == content) << path;
        }
    }
    // Leftovers of a download that must never survive a finished run.
    std::vector<std::wstring> Leftovers(const std::wstring& below = L"") {
        std::vector<std::wstring> out;
        WIN32_FIND_DATAW data;
        OwnedFind find = FindFirst((folder + below + L"*").c_str(), &data);
        if (!find) return out;
        do {
            std::wstring name = data.cFileName;
            if (name == L"." || name == L"..") continue;
            if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                for (auto& inner : Leftovers(below + name + L"\\")) out.push_back(inner);
            } else if (name.find(L".part") != std::wstring::npos || name.rfind(L".orvantis_pack_", 0) == 0) {
                out.push_back(below + name);
            }
        } while (FindNextFileW(find.h, &data));
        return out;
    }
};

TEST_F(LauncherDownload, InstallsThenKeepsUpToDate) {
    Release release = Game(Content(4096, 1));
    ASSERT_GE(release.entries.size(), 300u);
    release.Publish(origin);

    // First install: every file, stand-alone and packed, arrives in its folder.
    ASSERT_EQ(Run(L"--yes --verify-only"), 0);
    EXPECT_EQ(Result(), "ready");
    ExpectInstalled(release);
    EXPECT_TRUE(Leftovers().empty());
    EXPECT_EQ(origin.Count("/update/files/" + release.entries[1].sha256), 1u);
    for (auto& [name, bytes] : release.packs) EXPECT_EQ(origin.Count("/update/files/" + name), 1u);
    EXPECT_EQ(ObjectRequests(origin), 121u + release.packs.size());
    Cache cache = ReadCache();
    for (const Entry& e : release.entries) {
        auto it = cache.find(e.path);
        ASSERT_NE(it, cache.end()) << e.path;
        EXPECT_EQ(it->second.sha256, e.sha256) << e.path;
        EXPECT_EQ(it->second.size, e.size) << e.path;
    }
    std::string log = test::ReadFileBytes(folder + kLogName);
    EXPECT_NE(log.find("Actualizaci\xc3\xb3n terminada: 311 archivos nuevos. Abriendo el juego..."), std::string::npos)
        << log;

    // Second run: the cache vouches for everything. A file nobody may open proves that
    // no game file is read; nothing is requested but the manifest.
    size_t before = origin.Requests().size();
    {
        OwnedHandle locked = OpenFile(Local(folder, "Data/Texture/Ground/t050.ozt").c_str(), GENERIC_READ, 0,
                                      OPEN_EXISTING);
        ASSERT_TRUE(locked);
        ASSERT_EQ(Run(L"--yes --verify-only"), 0);
    }
    EXPECT_EQ(Result(), "ready");
    auto requests = origin.Requests();
    ASSERT_EQ(requests.size(), before + 1);
    EXPECT_EQ(requests.back().path, "/update/manifest.json");
    Cache again = ReadCache();
    EXPECT_EQ(again.size(), cache.size());
    for (auto& [path, record] : cache) {
        EXPECT_EQ(again[path].writeTime, record.writeTime) << path;
        EXPECT_EQ(again[path].sha256, record.sha256) << path;
    }

    // A file changed on the server, inside a pack: it alone is fetched, as a stand-alone
    // object, since one file does not justify the pack.
    Release next = Game(Content(4096, 1), "a new version of this map");
    const std::string changed = "Data/World1/m003.map";
    next.Publish(origin);
    size_t objects = ObjectRequests(origin);
    ASSERT_EQ(Run(L"--yes --verify-only"), 0);
    EXPECT_EQ(Result(), "ready");
    EXPECT_EQ(ObjectRequests(origin), objects + 1);
    EXPECT_EQ(origin.Requests().back().path, "/update/files/" + test::HexSha256("a new version of this map"));
    ExpectInstalled(next);
    EXPECT_EQ(ReadCache()[changed].sha256, test::HexSha256("a new version of this map"));

    // A file damaged on disk, its write time moved: the check hashes it again and repairs it.
    const std::wstring damaged = Local(folder, "Data/Sound/s010.wav");
    std::string bytes = test::ReadFileBytes(damaged);
    ASSERT_FALSE(bytes.empty());
    bytes[bytes.size() / 2] ^= 0x40;
    test::WriteFileBytes(damaged, bytes);
    {
        OwnedHandle file = OpenFile(damaged.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ, OPEN_EXISTING);
        ASSERT_TRUE(file);
        FILETIME time{};
        GetFileTime(file.h, nullptr, nullptr, &time);
        time.dwHighDateTime -= 1;  // about seven minutes earlier
        ASSERT_TRUE(SetFileTime(file.h, nullptr, nullptr, &time));
    }
    objects = ObjectRequests(origin);
    ASSERT_EQ(Run(L"--yes --verify-only"), 0);
    EXPECT_EQ(Result(), "ready");
    EXPECT_EQ(ObjectRequests(origin), objects + 1);
    ExpectInstalled(next);
    EXPECT_TRUE(Leftovers().empty());
}

// Without --verify-only: the closing text, Play enabled, and the game started about
// 1.5 s later by itself.
TEST_F(LauncherDownload, WindowShowsClosingTextAndStartsTheGame) {
    std::wstring fakeGame = test::BuiltProgram(L"tools\\fake_game.exe");
    ASSERT_FALSE(fakeGame.empty()) << "tools\\fake_game.exe is not built";
    Release release;
    release.Loose("Main.exe", test::ReadFileBytes(fakeGame));
    for (size_t i = 0; i < 12; ++i) release.Loose(Numbered("Data/Local/l", i, ".txt"), Content(100 + i, uint32_t(i)));
    std::vector<std::pair<std::string, std::string>> packed;
    for (size_t i = 0; i < 10; ++i) packed.push_back({Numbered("Data/Pack/p", i, ".bin"), Content(700, uint32_t(50 + i))});
    release.Packed(packed);
    release.Publish(origin);

    test::Started run;
    ASSERT_TRUE(test::StartProgram(folder + kSelfName, L"--server " + test::Address(origin) + L" --yes", folder, &run));
    HWND window = test::WaitForProcessWindow(run.pid, kClassName, kCaption, 30000);
    ASSERT_NE(window, nullptr);
    HWND status = FindWindowExW(window, nullptr, L"Static", nullptr);
    HWND play = GetDlgItem(window, kPlayId);
    ASSERT_NE(status, nullptr);
    ASSERT_NE(play, nullptr);

    const std::wstring closing = L"Actualizaci\u00f3n terminada: 23 archivos nuevos. Abriendo el juego...";
    const std::wstring record = folder + L"fake_game.record";
    // The timer starts the game 1.5 s after Play is enabled. Both moments are known only
    // between two polls, so the check takes the bounds that polling cannot shrink: the last
    // look that still saw Play disabled comes before the enabling, and the first look that saw
    // the game's record comes after the start. A slow machine only widens the gap.
    std::wstring seen;
    uint64_t lastDisabled = GetTickCount64();
    ASSERT_TRUE(test::WaitUntil(
        [&] {
            uint64_t now = GetTickCount64();
            seen = test::TextOf(status);
            if (seen == closing && IsWindowEnabled(play)) return true;
            lastDisabled = now;
            return false;
        },
        120000))
        << "last status: " << Narrow(seen);
    ASSERT_TRUE(test::WaitUntil([&] { return test::Exists(record); }, 20000)) << "the game was not started";
    uint64_t firstRecord = GetTickCount64();
    // 1.5 s less a quarter second for the timer's own granularity.
    EXPECT_GE(firstRecord - lastDisabled, 1250u) << "the game must wait for its timer";
    DWORD code = 99;
    ASSERT_TRUE(test::WaitForExit(run.process.h, 20000, &code));
    EXPECT_EQ(code, 0u);
    std::string line = test::ReadFileBytes(record);
    EXPECT_EQ(line.substr(0, line.find('\n')), "\"" + Narrow(folder) + "Main.exe\" /orvantis");
    ExpectInstalled(release);
}

}  // namespace
}  // namespace orvantis
