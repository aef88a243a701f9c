#include "publisher/build.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <ctime>
#include <filesystem>
#include <map>

#include "publisher/digest.h"
#include "publisher/keys.h"
#include "publisher/manifest_text.h"
#include "publisher/pack_plan.h"
#include "publisher/published.h"
#include "publisher/verify.h"
#include "tests/publisher/scratch.h"

namespace orvantis {
namespace {

using test::Bytes;
using test::ReadFile;
using test::WriteFile;
namespace fs = std::filesystem;

class Build : public test::Scratch {
protected:
    // A small game: Main.exe, 60 small data files, a few large ones, an empty one.
    void MakeGame(const std::string& root) {
        WriteFile(root + "/Main.exe", Bytes(1, 5000));
        for (int i = 0; i < 60; ++i)
            WriteFile(root + "/Data/Sub" + std::to_string(i % 3) + "/f" + std::to_string(i) + ".bmd",
                      Bytes(100 + i, 300 + 97 * i));
        WriteFile(root + "/Data/big1.bin", Bytes(7, 1200000));
        WriteFile(root + "/Data/big2.bin", Bytes(8, 2 * kSmallFile));
        WriteFile(root + "/Data/empty.txt", "");
        WriteFile(root + "/DataUltra/texture.ozj", Bytes(9, 40000));
    }
    // now: the clock for the release number, in seconds; 0 for the real one.
    BuildReport Run(const std::string& gameDir, const std::string& originDir, uint64_t now = 0, uint64_t release = 0) {
        BuildOptions o{gameDir, originDir, test::DevKey(), false};
        o.now = now;
        o.release = release;
        return BuildRelease(o);
    }
    std::string Manifest() { return ReadFile(origin + "/update/manifest.json"); }
    std::string Sig() { return ReadFile(origin + "/update/manifest.json.sig"); }
    std::string Problems(const BuildReport& r) {
        std::string all;
        for (const std::string& p : r.problems) all += p + "\n";
        return all;
    }
};

TEST_F(Build, PublishesARelease_TheLauncherReadsAndVerifyAccepts) {
    MakeGame(game);
    BuildReport r = Run(game, origin);
    ASSERT_TRUE(r.problems.empty()) << Problems(r);
    EXPECT_EQ(r.files, 65u);
    EXPECT_GE(r.packs, 1u);

    std::vector<Entry> entries = test::ReadManifest(origin);
    ASSERT_EQ(entries.size(), 65u);
    for (size_t i = 1; i < entries.size(); ++i) EXPECT_LT(entries[i - 1].path, entries[i].path);
    size_t packed = 0;
    for (const Entry& e : entries) {
        SCOPED_TRACE(e.path);
        // Every file is also its own object, for when the launcher needs only a few of a pack.
        std::string object = ReadFile(origin + "/update/files/" + e.sha256);
        EXPECT_EQ(object.size(), e.size);
        EXPECT_EQ(object, ReadFile(game + "/" + e.path));
        if (!e.pack.empty()) {
            ++packed;
            std::string pack = ReadFile(origin + "/update/files/" + e.pack);
            EXPECT_EQ(pack.size(), e.packSize);
            EXPECT_EQ(Sha256Hex(pack), e.pack);
            EXPECT_EQ(pack.substr(e.offset, e.size), object);
            EXPECT_LT(e.size, kSmallFile);
        }
    }
    EXPECT_EQ(packed, r.packedFiles);
    EXPECT_GT(packed, 0u);
    EXPECT_LT(packed, entries.size());  // large files stay stand-alone

    std::string sig = ReadFile(origin + "/update/manifest.json.sig");
    EXPECT_EQ(sig.size(), 128u);
    // The web server that publishes the origin runs as another user.
    for (const std::string& file : {origin + "/update/manifest.json", origin + "/update/manifest.json.sig",
                                    origin + "/update/files/" + entries.front().sha256}) {
        struct stat st;
        ASSERT_EQ(stat(file.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, 0644u) << file;
    }
    VerifyReport v = VerifyRelease({origin, test::DevKey(), "", false});
    EXPECT_TRUE(v.problems.empty()) << v.problems.front();
    EXPECT_EQ(v.entries, 65u);
}

TEST_F(Build, EveryPackItMakesIsFetchedWholeOnAFirstInstall) {
    for (int i = 0; i < 300; ++i) WriteFile(game + "/Data/d" + std::to_string(i % 7) + "/x" + std::to_string(i), Bytes(i, 50 + 331 * i));
    ASSERT_TRUE(Run(game, origin).problems.empty());
    std::map<std::string, std::vector<Entry>> packs;
    for (const Entry& e : test::ReadManifest(origin))
        if (!e.pack.empty()) packs[e.pack].push_back(e);
    EXPECT_GE(packs.size(), 3u);
    for (const auto& [name, members] : packs) {
        SCOPED_TRACE(name);
        EXPECT_TRUE(test::LauncherTakesWholePack(members));
    }
}

TEST_F(Build, SameGameGivesTheSameManifestByteForByte) {
    MakeGame(game);
    // The same files created in another order, in another folder.
    std::string other = dir + "/other";
    WriteFile(other + "/DataUltra/texture.ozj", Bytes(9, 40000));
    for (int i = 59; i >= 0; --i)
        WriteFile(other + "/Data/Sub" + std::to_string(i % 3) + "/f" + std::to_string(i) + ".bmd",
                  Bytes(100 + i, 300 + 97 * i));
    WriteFile(other + "/Data/empty.txt", "");
    WriteFile(other + "/Data/big2.bin", Bytes(8, 2 * kSmallFile));
    WriteFile(other + "/Data/big1.bin", Bytes(7, 1200000));
    WriteFile(other + "/Main.exe", Bytes(1, 5000));
    // At the same moment: the release number follows the clock.
    ASSERT_TRUE(Run(game, origin, 1700000000).problems.empty());
    ASSERT_TRUE(Run(other, dir + "/origin2", 1700000000).problems.empty());
    EXPECT_EQ(ReadFile(origin + "/update/manifest.json"), ReadFile(dir + "/origin2/update/manifest.json"));
}

TEST_F(Build, RepublishingRewritesNothingThatIsAlreadyRight) {
    MakeGame(game);
    ASSERT_TRUE(Run(game, origin).problems.empty());
    std::string object = origin + "/update/files/" + Sha256Hex(ReadFile(game + "/Main.exe"));
    struct stat before;
    ASSERT_EQ(stat(object.c_str(), &before), 0);
    std::string sig = ReadFile(origin + "/update/manifest.json.sig");

    BuildReport again = Run(game, origin);
    ASSERT_TRUE(again.problems.empty());
    EXPECT_EQ(again.objectsWritten, 0u);
    EXPECT_FALSE(again.manifestChanged);
    EXPECT_EQ(ReadFile(origin + "/update/manifest.json.sig"), sig);
    struct stat after;
    ASSERT_EQ(stat(object.c_str(), &after), 0);
    EXPECT_EQ(after.st_ino, before.st_ino);

    // A damaged object is replaced; one changed file gives one new object and one new pack at most.
    WriteFile(object, "damaged");
    WriteFile(game + "/Data/Sub0/f0.bmd", "changed");
    BuildReport third = Run(game, origin);
    ASSERT_TRUE(third.problems.empty()) << Problems(third);
    EXPECT_LE(third.objectsWritten, 3u);
    EXPECT_TRUE(third.manifestChanged);
    EXPECT_EQ(ReadFile(object), ReadFile(game + "/Main.exe"));
    EXPECT_TRUE(VerifyRelease({origin, test::DevKey(), "", false}).problems.empty());
}

// An interrupted build can leave an object of the right size but wrong bytes under its final
// name (objects are not flushed one by one); a later build must find and replace it.
TEST_F(Build, ReplacesADamagedObjectOfTheRightSize) {
    MakeGame(game);
    // Larger than what the build holds in memory: hashed first, then written in a second read.
    WriteFile(game + "/Data/huge.bin", Bytes(11, (16u << 20) + 1));
    ASSERT_TRUE(Run(game, origin).problems.empty());
    std::vector<Entry> entries = test::ReadManifest(origin);
    std::map<std::string, std::string> names;
    for (const Entry& e : entries) {
        if (e.path == "Main.exe") names["file held in memory"] = e.sha256;
        if (e.path == "Data/huge.bin") names["file read twice"] = e.sha256;
        if (!e.pack.empty()) names["pack"] = e.pack;
    }
    ASSERT_EQ(names.size(), 3u);
    for (const auto& [what, name] : names) {
        SCOPED_TRACE(what);
        std::string object = origin + "/update/files/" + name;
        std::string good = ReadFile(object);
        ASSERT_FALSE(good.empty());
        std::string bad = good;
        bad[bad.size() / 2] ^= 1;
        WriteFile(object, bad);
        BuildReport r = Run(game, origin);
        ASSERT_TRUE(r.problems.empty()) << Problems(r);
        EXPECT_EQ(r.objectsWritten, 1u);
        EXPECT_FALSE(r.manifestChanged);
        EXPECT_EQ(ReadFile(object), good);
    }
    // Nothing but objects is left in the store: every temporary was renamed or removed.
    for (const auto& item : fs::directory_iterator(origin + "/update/files"))
        EXPECT_TRUE(IsObjectName(item.path().filename().string())) << item.path();
    EXPECT_TRUE(VerifyRelease({origin, test::DevKey(), "", false}).problems.empty());
}

// Launchers refuse a release number below the highest they have accepted: every release whose
// content changes gets a higher one, also when the clock went back; the same content keeps its
// manifest byte for byte, number and signature included.
TEST_F(Build, NumbersEveryReleaseAboveTheLastAndKeepsTheNumberOfTheSameContent) {
    MakeGame(game);
    uint64_t before = uint64_t(time(nullptr));
    BuildReport first = Run(game, origin);
    ASSERT_TRUE(first.problems.empty()) << Problems(first);
    EXPECT_GE(first.release, before);
    EXPECT_LE(first.release, uint64_t(time(nullptr)));
    EXPECT_EQ(first.previousRelease, 0u);
    EXPECT_EQ(Manifest().rfind("{\"release\":" + std::to_string(first.release) + ",\"files\":[\n", 0), 0u)
        << Manifest().substr(0, 60);

    struct Step {
        const char* name;
        const char* change;  // written to Data/step.txt; nullptr leaves the game as it is
        uint64_t now;
        uint64_t expected;   // 0: the release before
    } steps[] = {
        {"the same content, later", nullptr, 4000000000, 0},
        {"new content, the clock ahead", "a", 4000000000, 4000000000},
        {"new content, the clock gone back", "b", 1000, 4000000001},
        {"new content, the same second", "c", 4000000001, 4000000002},
        {"the same content, the clock gone back", nullptr, 5, 0},
    };
    uint64_t last = first.release;
    for (const Step& step : steps) {
        SCOPED_TRACE(step.name);
        if (step.change) WriteFile(game + "/Data/step.txt", step.change);
        std::string manifest = Manifest(), sig = Sig();
        BuildReport r = Run(game, origin, step.now);
        ASSERT_TRUE(r.problems.empty()) << Problems(r);
        EXPECT_EQ(r.previousRelease, last);
        EXPECT_EQ(r.release, step.expected ? step.expected : last);
        EXPECT_EQ(r.manifestChanged, step.change != nullptr);
        if (!step.change) {
            EXPECT_EQ(Manifest(), manifest);
            EXPECT_EQ(Sig(), sig);
        }
        EXPECT_EQ(ReleaseOf(Manifest()).value, r.release);
        last = r.release;
    }
    VerifyReport v = VerifyRelease({origin, test::DevKey(), "", false});
    EXPECT_TRUE(v.problems.empty());
    EXPECT_TRUE(v.release.valid);
    EXPECT_EQ(v.release.value, last);
}

TEST_F(Build, TakesAReleaseNumberByHandAndSaysWhenItIsNotAboveTheOrigins) {
    MakeGame(game);
    ASSERT_TRUE(Run(game, origin, 3000).problems.empty());
    WriteFile(game + "/Data/step.txt", "rolled back by hand");
    BuildReport low = Run(game, origin, 3500, 50);
    ASSERT_TRUE(low.problems.empty()) << Problems(low);
    EXPECT_EQ(low.release, 50u);
    ASSERT_EQ(low.notes.size(), 1u);
    EXPECT_EQ(low.notes[0], "warning: release 50 is not above the origin's current release 3000; launchers that "
                            "have accepted a release above 50 refuse this one");
    // The next build goes on from the number by hand (and the clock).
    WriteFile(game + "/Data/step.txt", "next");
    EXPECT_EQ(Run(game, origin, 10).release, 51u);
    // By hand above the origin's number: no warning; the same number and content: nothing changes.
    BuildReport high = Run(game, origin, 10, 9000);
    EXPECT_TRUE(high.notes.empty());
    EXPECT_TRUE(high.manifestChanged);
    std::string manifest = Manifest();
    BuildReport same = Run(game, origin, 10, 9000);
    EXPECT_FALSE(same.manifestChanged);
    EXPECT_EQ(Manifest(), manifest);
}

// An origin made before manifests had numbers gets one at the next build, even for the same files
// (players download nothing for it); a number the build cannot read stops it unless one is given.
TEST_F(Build, NumbersAnOlderOriginsReleaseAndStopsAtANumberItCannotRead) {
    MakeGame(game);
    ASSERT_TRUE(Run(game, origin, 3000).problems.empty());
    std::vector<Entry> entries = test::ReadManifest(origin);
    std::string error;
    PKey key = LoadPrivateKey(test::DevKey(), error);
    struct Row {
        const char* name;
        std::string body;
        bool refused;
        uint64_t expected;
    } rows[] = {
        {"no number", ManifestText(entries, 0), false, 3500},
        {"a number in quotes", "{\"release\":\"77\"," + ManifestText(entries, 0).substr(1), true, 0},
        {"a negative number", "{\"release\":-77," + ManifestText(entries, 0).substr(1), true, 0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        std::vector<std::string> notes;
        ASSERT_TRUE(SwitchRelease(origin, row.body, SignHex(key.get(), row.body), notes, error)) << error;
        BuildReport r = Run(game, origin, 3500);
        EXPECT_EQ(!r.problems.empty(), row.refused) << Problems(r);
        if (row.refused) {
            EXPECT_NE(Problems(r).find("is not one unsigned decimal integer; give the number with --release N"),
                      std::string::npos);
            EXPECT_EQ(Manifest(), row.body);
            EXPECT_EQ(Run(game, origin, 3500, 4000).release, 4000u);
        } else {
            EXPECT_EQ(r.release, row.expected);
            EXPECT_TRUE(r.manifestChanged);
            EXPECT_NE(r.forecast.find("Update: nothing to download"), std::string::npos) << r.forecast;
        }
    }
}

TEST_F(Build, RefusesNamesTheLauncherCannotTakeAndNamesTheFile) {
    struct Row {
        const char* name;
        std::string path;
        const char* message;
    } rows[] = {
        {"backslash", "Data/a\\b.bmd", "Data/a\\b.bmd: contains a backslash"},
        {"colon", "Data/a:b.bmd", "Data/a:b.bmd: contains a colon"},
        {"quote", "Data/say\"hi\".txt", "Data/say\"hi\".txt: contains a double quote"},
        {"control", "Data/tab\there", "Data/tab\\x09here: contains a control character"},
        {"not UTF-8", "Data/caf\xE9.txt", "Data/caf\\xE9.txt: is not valid UTF-8"},
        {"too long", "Data/" + std::string(200, 'x'), "is 205 characters long"},
        {"trailing dot", "Data/name.", "Data/name.: has a name ending in a dot"},
        {"trailing blank", "Data/name ", "Data/name : has a name ending in a dot or a blank"},
        {"device", "Data/CON.txt", "Data/CON.txt: uses a Windows device name"},
        {"device folder", "lpt1/x.bin", "lpt1/x.bin: uses a Windows device name"},
        {"case clash", "Data/README.txt", "only in letter case; Windows keeps one file for both"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        fs::remove_all(game);
        fs::remove_all(origin);
        WriteFile(game + "/Main.exe", "exe");
        WriteFile(game + "/Data/readme.txt", "fine");
        WriteFile(game + "/" + row.path, "bad");
        BuildReport r = Run(game, origin);
        ASSERT_EQ(r.problems.size(), 1u) << Problems(r);
        EXPECT_NE(r.problems[0].find(row.message), std::string::npos) << r.problems[0];
        EXPECT_FALSE(fs::exists(origin + "/update/manifest.json"));
    }
}

TEST_F(Build, RefusesLinksLeavingTheFolderAndFollowsOnesInside) {
    WriteFile(game + "/Main.exe", "exe");
    WriteFile(game + "/Data/real/a.bin", "a");
    WriteFile(dir + "/outside.txt", "secret");
    ASSERT_EQ(symlink("real/a.bin", (game + "/Data/alias.bin").c_str()), 0);
    ASSERT_EQ(symlink("real", (game + "/Data/aliasdir").c_str()), 0);
    BuildReport ok = Run(game, origin);
    ASSERT_TRUE(ok.problems.empty()) << Problems(ok);
    EXPECT_EQ(ok.files, 4u);  // Main.exe, real/a.bin, alias.bin, aliasdir/a.bin

    ASSERT_EQ(symlink("../../outside.txt", (game + "/Data/leak.txt").c_str()), 0);
    ASSERT_EQ(symlink("..", (game + "/Data/loop").c_str()), 0);
    BuildReport r = Run(game, origin);
    ASSERT_EQ(r.problems.size(), 2u) << Problems(r);
    EXPECT_NE(Problems(r).find("Data/leak.txt: is a symbolic link leaving the game folder"), std::string::npos);
    EXPECT_NE(Problems(r).find("Data/loop: is a symbolic link to a folder that contains it"), std::string::npos);
}

TEST_F(Build, LeavesOutTheLaunchersOwnFiles) {
    WriteFile(game + "/Main.exe", "exe");
    WriteFile(game + "/Data/a.bin", "a");
    for (const char* name : {"orvantis_update.log", "orvantis_update.cache", "orvantis_verify.result",
                             "orvantis_update.release", "Data/a.bin.part", ".orvantis_pack_" "0000", "config.ini",
                             "OrvantisKesh.exe", "OrvantisKesh.old.exe"})
        WriteFile(game + "/" + name, "launcher's");
    BuildReport r = Run(game, origin);
    ASSERT_TRUE(r.problems.empty()) << Problems(r);
    EXPECT_EQ(r.notes.size(), 9u);
    std::string notes;
    for (const std::string& note : r.notes) notes += note + "\n";
    EXPECT_NE(notes.find("left out OrvantisKesh.exe: the launcher itself"), std::string::npos) << notes;
    std::vector<Entry> entries = test::ReadManifest(origin);
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].path, "Data/a.bin");
    EXPECT_EQ(entries[1].path, "Main.exe");
}

TEST_F(Build, RefusesToPublishItsOwnOutputOrTheKey) {
    WriteFile(game + "/Main.exe", "exe");
    BuildReport inside = Run(game, game + "/origin");
    ASSERT_EQ(inside.problems.size(), 1u);
    EXPECT_NE(inside.problems[0].find("inside the game folder"), std::string::npos);

    std::string key = game + "/Data/key.pem";
    fs::create_directories(game + "/Data");
    fs::copy_file(test::DevKey(), key);
    BuildReport leak = BuildRelease({game, origin, key, false});
    ASSERT_EQ(leak.problems.size(), 1u);
    EXPECT_NE(leak.problems[0].find("private key lies inside the game folder"), std::string::npos);
    EXPECT_FALSE(fs::exists(origin));
}

TEST_F(Build, RefusesAnEmptyFolderAndABadKey) {
    BuildReport empty = Run(game, origin);
    ASSERT_EQ(empty.problems.size(), 1u);
    EXPECT_NE(empty.problems[0].find("no files to publish"), std::string::npos);

    WriteFile(game + "/Main.exe", "exe");
    WriteFile(dir + "/bad.pem", "not a key");
    BuildReport badKey = BuildRelease({game, origin, dir + "/bad.pem", false});
    ASSERT_EQ(badKey.problems.size(), 1u);
    EXPECT_NE(badKey.problems[0].find("bad.pem"), std::string::npos);
}

TEST_F(Build, KeepsTheOldReleaseWhenRefusing) {
    MakeGame(game);
    ASSERT_TRUE(Run(game, origin).problems.empty());
    std::string manifest = ReadFile(origin + "/update/manifest.json");
    WriteFile(game + "/Data/bad:name", "x");
    EXPECT_FALSE(Run(game, origin).problems.empty());
    EXPECT_EQ(ReadFile(origin + "/update/manifest.json"), manifest);
    EXPECT_TRUE(VerifyRelease({origin, test::DevKey(), "", false}).problems.empty());
}

}  // namespace
}  // namespace orvantis
