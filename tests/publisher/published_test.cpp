#include "publisher/published.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <thread>

#include "publisher/build.h"
#include "publisher/keys.h"
#include "publisher/verify.h"
#include "tests/publisher/scratch.h"

namespace orvantis {
namespace {

using test::ReadFile;
using test::WriteFile;
namespace fs = std::filesystem;

class Published : public test::Scratch {
protected:
    std::string update;
    void SetUp() override {
        test::Scratch::SetUp();
        update = origin + "/update";
        fs::create_directories(update);
    }
    PublishedPair Served() {
        PublishedPair pair;
        EXPECT_TRUE(ReadPublished(origin, pair));
        return pair;
    }
    bool Switch(const std::string& body, const std::string& sig) {
        std::vector<std::string> notes;
        std::string error;
        bool ok = SwitchRelease(origin, body, sig, notes, error);
        EXPECT_TRUE(notes.empty()) << notes.front();
        EXPECT_TRUE(ok) << error;
        return ok;
    }
    std::vector<std::string> Names(const std::string& folder) {
        std::vector<std::string> names;
        for (const auto& item : fs::directory_iterator(folder)) names.push_back(item.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }
};

TEST_F(Published, AFreshOriginServesThePairThroughOneLink) {
    PublishedPair none;
    EXPECT_FALSE(ReadPublished(origin, none));
    ASSERT_TRUE(Switch("body one", "sig one"));
    PublishedPair pair = Served();
    EXPECT_EQ(pair.body, "body one");
    EXPECT_EQ(pair.sig, "sig one");
    EXPECT_TRUE(pair.hasSig);
    // The usual names still give the pair to anything that reads them.
    EXPECT_EQ(ReadFile(update + "/manifest.json"), "body one");
    EXPECT_EQ(ReadFile(update + "/manifest.json.sig"), "sig one");
    EXPECT_TRUE(fs::is_symlink(update + "/current"));
    EXPECT_EQ(fs::read_symlink(update + "/manifest.json"), "current/manifest.json");
    EXPECT_EQ(fs::read_symlink(update + "/manifest.json.sig"), "current/manifest.json.sig");
    for (const char* file : {"/manifest.json", "/manifest.json.sig"}) {
        struct stat st;
        ASSERT_EQ(stat((update + file).c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, 0644u) << file;
    }

    // Each switch keeps the release before it, for readers that resolved it a moment earlier.
    ASSERT_TRUE(Switch("body two", "sig two"));
    ASSERT_TRUE(Switch("body three", "sig three"));
    EXPECT_EQ(Served().body, "body three");
    EXPECT_EQ(Names(update + "/releases").size(), 2u);
}

TEST_F(Published, AnOriginOfAnOlderBuildIsReadAsItIsAndMovedOnAtTheNextSwitch) {
    WriteFile(update + "/manifest.json", "old body");
    WriteFile(update + "/manifest.json.sig", "old sig");
    PublishedPair old = Served();
    EXPECT_EQ(old.body, "old body");
    EXPECT_EQ(old.sig, "old sig");

    ASSERT_TRUE(Switch("new body", "new sig"));
    EXPECT_EQ(Served().body, "new body");
    EXPECT_EQ(Served().sig, "new sig");
    // The old pair went into a release folder of its own before the names were linked.
    bool kept = false;
    for (const std::string& name : Names(update + "/releases"))
        kept = kept || ReadFile(update + "/releases/" + name + "/manifest.json") == "old body";
    EXPECT_TRUE(kept);

    // An older build run again afterwards replaces the links by plain files; those are served.
    fs::remove(update + "/manifest.json");
    fs::remove(update + "/manifest.json.sig");
    WriteFile(update + "/manifest.json", "plain again");
    EXPECT_EQ(Served().body, "plain again");
    EXPECT_FALSE(Served().hasSig);
    ASSERT_TRUE(Switch("newest", "newest sig"));
    EXPECT_EQ(Served().body, "newest");
}

TEST_F(Published, ClearsWhatAnInterruptedBuildLeft) {
    ASSERT_TRUE(Switch("one", "1"));
    fs::create_directories(update + "/releases/.incoming-abc123");
    WriteFile(update + "/releases/.incoming-abc123/manifest.json", "half");
    fs::create_symlink("releases/nowhere", update + "/.switching-current");
    ASSERT_TRUE(Switch("two", "2"));
    for (const std::string& name : Names(update + "/releases")) EXPECT_NE(name[0], '.') << name;
    EXPECT_FALSE(fs::exists(fs::symlink_status(update + "/.switching-current")));
}

TEST_F(Published, OneBuildAtATimePerOrigin) {
    int first = -1, second = -1;
    std::string error;
    ASSERT_TRUE(LockOrigin(origin, first, error)) << error;
    EXPECT_FALSE(LockOrigin(origin, second, error));
    EXPECT_NE(error.find("another build is publishing into this origin"), std::string::npos) << error;
    UnlockOrigin(first);
    EXPECT_TRUE(LockOrigin(origin, second, error)) << error;
    UnlockOrigin(second);
}

// Readers that resolve the pair while releases switch under them always get one release's pair.
TEST_F(Published, ReadersNeverSeeHalfASwitch) {
    ASSERT_TRUE(Switch("body A", "sig A"));
    std::atomic<bool> stop{false};
    std::atomic<int> reads{0}, mixed{0};
    std::thread reader([&] {
        while (!stop) {
            PublishedPair pair;
            if (!ReadPublished(origin, pair)) {
                ++mixed;
                continue;
            }
            if (!((pair.body == "body A" && pair.sig == "sig A") || (pair.body == "body B" && pair.sig == "sig B")))
                ++mixed;
            ++reads;
        }
    });
    for (int i = 0; i < 200; ++i) Switch(i % 2 ? "body A" : "body B", i % 2 ? "sig A" : "sig B");
    stop = true;
    reader.join();
    EXPECT_GT(reads.load(), 0);
    EXPECT_EQ(mixed.load(), 0);
}

// A build whose second write of the pair fails (here: the file-size limit stops the manifest
// after its signature was written) publishes nothing, says so, and leaves no trace.
TEST_F(Published, ABuildWhoseSecondWriteFailsLeavesTheServedPairAsItWas) {
    // Small files, so that every object stays under the limit and only the manifest exceeds it.
    WriteFile(game + "/Main.exe", "exe");
    for (int i = 0; i < 40; ++i) WriteFile(game + "/Data/f" + std::to_string(i), test::Bytes(i, 50));
    ASSERT_TRUE(BuildRelease({game, origin, test::DevKey(), false}).problems.empty());
    PublishedPair before = Served();
    ASSERT_GT(before.body.size(), 4096u);

    WriteFile(game + "/Data/f7", "changed");
    std::string out = dir + "/out.txt", err = dir + "/err.txt";
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        rlimit limit{4096, 4096};
        setrlimit(RLIMIT_FSIZE, &limit);
        signal(SIGXFSZ, SIG_IGN);  // the write fails with EFBIG instead of ending the process
        freopen(out.c_str(), "w", stdout);
        freopen(err.c_str(), "w", stderr);
        execl(ORVANTIS_PUBLISH_EXE, "orvantis-publish", "build", game.c_str(), origin.c_str(), "--key",
              test::DevKey().c_str(), (char*)nullptr);
        _exit(127);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 1);
    std::string messages = ReadFile(err);
    EXPECT_NE(messages.find("manifest.json: cannot be written (File too large)"), std::string::npos) << messages;
    EXPECT_NE(messages.find("Nothing was published; the origin's manifest is unchanged."), std::string::npos)
        << messages;

    PublishedPair after = Served();
    EXPECT_EQ(after.body, before.body);
    EXPECT_EQ(after.sig, before.sig);
    EXPECT_EQ(ReadFile(update + "/manifest.json"), before.body);
    EXPECT_EQ(ReadFile(update + "/manifest.json.sig"), before.sig);
    EXPECT_EQ(Names(update + "/releases").size(), 1u);
    for (const std::string& name : Names(update))
        EXPECT_TRUE(name == "files" || name == "releases" || name == "current" || name == "manifest.json" ||
                    name == "manifest.json.sig" || name == ".build.lock")
            << name;
    EXPECT_TRUE(VerifyRelease({origin, test::DevKey(), "", false}).problems.empty());

    // Without the limit the same build goes through.
    ASSERT_TRUE(BuildRelease({game, origin, test::DevKey(), false}).problems.empty());
    EXPECT_NE(Served().body, before.body);
    EXPECT_TRUE(VerifyRelease({origin, test::DevKey(), "", false}).problems.empty());
}

}  // namespace
}  // namespace orvantis
