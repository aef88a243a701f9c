// The launcher killed at random moments of a large install: whenever it dies, every game
// file holds old or new verified bytes (only ".part" and ".orvantis_pack_" files may hold
// anything else), and a later run completes the folder.
//
// ORVANTIS_KILL_POINTS sets the number of kills (the long run uses 25 or more), and
// ORVANTIS_KILL_SEED the seed of the kill moments (fixed by default, printed, so that a failure
// can be run again with the same moments).
#include <gtest/gtest.h>

#include <cstdio>
#include <algorithm>
#include <cstdlib>
#include <random>

#include "launcher/text.h"
#include "tests/support/origin.h"
#include "tests/support/reliability_support.h"
#include "tests/support/signing.h"
#include "tests/support/temp_folder.h"

namespace orvantis::reliability {
namespace {

int KillPoints() {
    const char* text = getenv("ORVANTIS_KILL_POINTS");
    int n = text ? atoi(text) : 0;
    return n > 0 ? n : 6;
}

unsigned KillSeed() {
    const char* text = getenv("ORVANTIS_KILL_SEED");
    return text && *text ? static_cast<unsigned>(strtoul(text, nullptr, 10)) : 20261208u;
}

struct Large {
    std::vector<std::pair<std::string, std::string>> files;
    std::vector<std::pair<std::string, std::string>> packed;
    std::map<std::wstring, std::string> old;
    Release release;

    Large() {
        for (int i = 0; i < 16; ++i) {
            std::string name = "Data/Big/part" + std::to_string(i) + ".bin";
            files.push_back({name, Bytes(1200000 + 1000 * i, 100 + i)});
            if (i % 3 == 0) old[LocalName(name)] = Bytes(900000, 200 + i);  // an older version
        }
        for (int i = 0; i < 12; ++i)
            packed.push_back({"Data/Small/s" + std::to_string(i) + ".txt", Bytes(20000 + 100 * i, 300 + i)});
        files.push_back({"Main.exe", Bytes(50000, 7)});
        old[L"Main.exe"] = Bytes(40000, 8);
        release = MakeRelease(files, packed);
    }

    // Every non-temporary game file is old or new verified content; returns how many were compared.
    int Check(const std::wstring& folder, const std::string& when) const {
        SCOPED_TRACE(when);
        std::map<std::wstring, std::string> fresh;
        for (const auto& [path, bytes] : release.content) fresh[LocalName(path)] = bytes;
        std::vector<std::wstring> temporary = Leftovers(folder);
        int compared = 0;
        for (const auto& [name, bytes] : ReadTree(folder)) {
            if (IsLauncherFile(name) || std::find(temporary.begin(), temporary.end(), name) != temporary.end())
                continue;
            auto n = fresh.find(name);
            auto o = old.find(name);
            bool ok = (n != fresh.end() && n->second == bytes) || (o != old.end() && o->second == bytes);
            EXPECT_TRUE(ok) << Narrow(name) << " holds unverified bytes";
            ++compared;
        }
        for (const auto& [name, bytes] : old) EXPECT_TRUE(test::Exists(folder + name)) << Narrow(name) << " lost";
        return compared;
    }
};

TEST(KillMidDownload, EveryKillLeavesOnlyVerifiedFilesAndTheNextRunCompletes) {
    ASSERT_FALSE(BuiltLauncher().empty()) << "OrvantisKesh.exe is not built";
    Large large;
    test::Origin origin;
    origin.Publish(large.release.manifest, large.release.objects);
    // Slow every object down so that a kill lands in the middle of the transfers.
    for (const std::string& object : large.release.objects) {
        test::Reply slow;
        slow.body = object;
        slow.chunkSize = 32768;
        slow.chunkDelayMs = 20;
        origin.Script("/update/files/" + test::HexSha256(object), {slow});
    }

    const int wanted = KillPoints();
    unsigned seed = KillSeed();
    std::mt19937 random(seed);
    printf("kill points: %d, seed %u (ORVANTIS_KILL_SEED=%u repeats these moments)\n", wanted, seed, seed);

    std::wstring folder = test::MakeTempFolder(L"kill");
    ASSERT_FALSE(folder.empty());
    auto prepare = [&] {
        test::RemoveTree(folder);
        CreateDirectoryW(folder.c_str(), nullptr);
        CreateDirectoryW((folder + L"Data").c_str(), nullptr);
        CreateDirectoryW((folder + L"Data\\Big").c_str(), nullptr);
        for (const auto& [name, bytes] : large.old) test::WriteFileBytes(folder + name, bytes);
    };
    prepare();

    const std::wstring args = L"--yes --verify-only --server " + test::Address(origin);
    int kills = 0, completedEarly = 0, compared = 0, attempts = 0;
    while (kills < wanted && attempts < wanted * 4) {
        ++attempts;
        DeleteFileW((folder + L"orvantis_verify.result").c_str());
        OwnedHandle process = StartLauncher(folder, args);
        ASSERT_TRUE(process) << "the launcher did not start";
        DWORD delay = std::uniform_int_distribution<DWORD>(150, 2500)(random);
        if (WaitForSingleObject(process.h, delay) == WAIT_OBJECT_0) {
            // It finished before the kill: start again from the old installation.
            ++completedEarly;
            compared += large.Check(folder, "a run that completed before its kill point");
            prepare();
            continue;
        }
        TerminateProcess(process.h, 9);
        WaitForSingleObject(process.h, 10000);
        ++kills;
        compared += large.Check(folder, "after kill " + std::to_string(kills) + " at " + std::to_string(delay) + " ms");
        if (HasFailure()) break;
    }
    EXPECT_EQ(kills, wanted) << "too many runs ended before their kill point";

    Outcome last = VerifyRun(folder, L"--server " + test::Address(origin));
    EXPECT_TRUE(last.exited);
    EXPECT_EQ(last.result, "ready") << last.lastStatus;
    EXPECT_EQ(last.exitCode, 0u);
    compared += large.Check(folder, "after the completing run");
    for (const auto& [path, bytes] : large.release.content)
        EXPECT_EQ(test::ReadFileBytes(folder + LocalName(path)), bytes) << path;
    EXPECT_TRUE(Leftovers(folder).empty()) << "the completing run left temporary files";
    test::RemoveTree(folder);
    printf("kills: %d (runs that finished first: %d), files compared: %d\n", kills, completedEarly, compared);
}

}  // namespace
}  // namespace orvantis::reliability
