#include "publisher/publish_objects.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <map>
#include <set>

#include "publisher/build.h"
#include "publisher/cli.h"
#include "publisher/digest.h"
#include "publisher/pack_plan.h"
#include "publisher/path_rules.h"
#include "publisher/verify.h"
#include "tests/publisher/scratch.h"

namespace orvantis {
namespace {

using test::Bytes;
using test::ReadFile;
using test::WriteFile;
namespace fs = std::filesystem;

class PublishObjectsTest : public test::Scratch {
protected:
    // About 20 MiB: several times the least memory in flight, with files of every kind the reader meets.
    void MakeGame(const std::string& root) {
        WriteFile(root + "/Main.exe", Bytes(1, 70000));
        for (int i = 0; i < 240; ++i)
            WriteFile(root + "/Data/d" + std::to_string(i % 5) + "/f" + std::to_string(i), Bytes(200 + i, 29 * i * i % 150000));
        WriteFile(root + "/Data/held.bin", Bytes(3, 1536 * 1024));       // alone, held in memory
        WriteFile(root + "/Data/streamed.bin", Bytes(4, 3 * 1024 * 1024));  // alone, more than half the least in flight
        WriteFile(root + "/Data/twin_a", Bytes(5, 9000));                 // two files, one object
        WriteFile(root + "/Data/twin_b", Bytes(5, 9000));
    }
    BuildReport Run(const std::string& gameDir, const std::string& originDir, size_t inFlight) {
        BuildOptions o{gameDir, originDir, test::DevKey(), false};
        o.inFlight = inFlight;
        o.now = 1700000000;  // one moment for every build, as the release number follows the clock
        return BuildRelease(o);
    }
    static std::set<std::string> Store(const std::string& originDir) {
        std::set<std::string> names;
        for (const auto& item : fs::directory_iterator(originDir + "/update/files"))
            names.insert(item.path().filename().string());
        return names;
    }
    static std::string Joined(const std::vector<std::string>& lines) {
        std::string all;
        for (const std::string& line : lines) all += line + "\n";
        return all;
    }
};

// With the least memory in flight the reader waits for the writers many times; the release must
// not depend on how often.
TEST_F(PublishObjectsTest, SameReleaseWhateverTheMemoryInFlight) {
    MakeGame(game);
    struct Row {
        const char* name;
        size_t inFlight;
    } rows[] = {{"least in flight", 0}, {"5 MiB in flight", 5u << 20}, {"default", BuildOptions().inFlight}};
    std::string firstManifest;
    std::set<std::string> firstStore;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        std::string out = dir + "/origin-" + std::to_string(row.inFlight);
        BuildReport r = Run(game, out, row.inFlight);
        ASSERT_TRUE(r.problems.empty()) << Joined(r.problems);
        EXPECT_EQ(r.objectsPresent, 0u);
        EXPECT_EQ(r.objectsWritten, Store(out).size());
        VerifyReport v = VerifyRelease({out, test::DevKey(), "", false});
        EXPECT_TRUE(v.problems.empty()) << Joined(v.problems);
        std::string manifest = ReadFile(out + "/update/manifest.json");
        if (firstManifest.empty()) {
            firstManifest = manifest;
            firstStore = Store(out);
        }
        EXPECT_EQ(manifest, firstManifest);
        EXPECT_EQ(Store(out), firstStore);
    }
    // Every object the manifest names is in the store and nothing else is; the twins share one.
    std::vector<Entry> entries = test::ReadManifest(dir + "/origin-0");
    std::set<std::string> names;
    std::map<std::string, std::string> byPath;
    for (const Entry& e : entries) {
        names.insert(e.sha256);
        if (!e.pack.empty()) names.insert(e.pack);
        byPath[e.path] = e.sha256;
    }
    EXPECT_EQ(names, firstStore);
    EXPECT_EQ(byPath["Data/twin_a"], byPath["Data/twin_b"]);
}

// A writer that cannot put its object in place stops the whole build: the message names the
// object, the command exits 1, no manifest appears, and no temporary file is left behind.
TEST_F(PublishObjectsTest, AWriterThatFailsStopsTheBuild) {
    MakeGame(game);
    ASSERT_TRUE(Run(game, origin, 0).problems.empty());
    std::vector<Entry> entries = test::ReadManifest(origin);
    ASSERT_GT(entries.size(), 200u);
    const Entry& middle = entries[entries.size() / 2];
    ASSERT_FALSE(middle.pack.empty());
    struct Row {
        const char* name;
        std::string object;
    } rows[] = {{"file object", middle.sha256}, {"pack object", middle.pack}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        std::string out = dir + "/again";
        fs::remove_all(out);
        // A folder where the object belongs cannot be replaced by a file.
        fs::create_directories(out + "/update/files/" + row.object + "/in-the-way");
        FILE* o = tmpfile();
        FILE* e = tmpfile();
        int code = RunCommand({"build", game, out, "--key", test::DevKey()}, o, e);
        fflush(e);
        rewind(e);
        std::string err(4096, '\0');
        err.resize(fread(err.data(), 1, err.size(), e));
        fclose(o);
        fclose(e);
        EXPECT_EQ(code, 1);
        EXPECT_NE(err.find("refused: " + out + "/update/files/" + row.object + ": cannot be written"),
                  std::string::npos)
            << err;
        EXPECT_FALSE(fs::exists(out + "/update/manifest.json"));
        EXPECT_FALSE(fs::exists(out + "/update/manifest.json.sig"));
        for (const auto& item : fs::directory_iterator(out + "/update/files"))
            EXPECT_TRUE(IsObjectName(item.path().filename().string())) << item.path();
    }
}

// A source that cannot be read, or that changed since the walk, stops the writers as well; what
// they already put in place is whole and named by its bytes.
TEST_F(PublishObjectsTest, AFileThatCannotBeReadStopsTheWriters) {
    MakeGame(game);
    Walk walk = WalkGame(game);
    ASSERT_TRUE(walk.problems.empty());
    std::vector<std::vector<size_t>> packs = PlanPacks(walk.files);
    std::vector<int> packOf(walk.files.size(), -1);
    for (size_t p = 0; p < packs.size(); ++p)
        for (size_t i : packs[p]) packOf[i] = int(p);
    size_t middle = walk.files.size() / 2;
    ASSERT_GE(packOf[middle], 0);
    ASSERT_GT(walk.files[middle].size, 0u);
    struct Row {
        const char* name;
        std::string location;
        uint64_t size;
        const char* message;
    } rows[] = {
        {"gone", game + "/no/such/file", walk.files[middle].size, ": cannot be read"},
        {"shrank", walk.files[middle].location, walk.files[middle].size + 1, ": changed while the release was being built"},
        {"grew", walk.files[middle].location, walk.files[middle].size - 1, ": changed while the release was being built"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        std::string filesDir = dir + "/store-" + row.name;
        fs::create_directories(filesDir);
        std::vector<SourceFile> files = walk.files;
        files[middle].location = row.location;
        files[middle].size = row.size;
        ProgressBar bar;
        PublishedObjects result = PublishObjects(files, packs, packOf, filesDir, 0, bar);
        EXPECT_EQ(result.problem.rfind(Printable(files[middle].path) + row.message, 0), 0u) << result.problem;
        size_t seen = 0;
        for (const auto& item : fs::directory_iterator(filesDir)) {
            std::string name = item.path().filename().string();
            ASSERT_TRUE(IsObjectName(name)) << name;
            EXPECT_EQ(Sha256Hex(ReadFile(item.path().string())), name);
            ++seen;
        }
        EXPECT_EQ(seen, result.written);
        EXPECT_LT(result.written, files.size());
    }
}

}  // namespace
}  // namespace orvantis
