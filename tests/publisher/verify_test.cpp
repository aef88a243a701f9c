#include "publisher/verify.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "publisher/build.h"
#include "publisher/keys.h"
#include "publisher/manifest_text.h"
#include "tests/publisher/scratch.h"

namespace orvantis {
namespace {

using test::Bytes;
using test::ReadFile;
using test::WriteFile;
namespace fs = std::filesystem;

class Verify : public test::Scratch {
protected:
    std::vector<Entry> entries;
    void SetUp() override {
        test::Scratch::SetUp();
        WriteFile(game + "/Main.exe", Bytes(1, 3000));
        for (int i = 0; i < 20; ++i) WriteFile(game + "/Data/f" + std::to_string(i), Bytes(i + 2, 100 + i));
        WriteFile(game + "/Data/large.bin", Bytes(99, 1100000));
        ASSERT_TRUE(BuildRelease({game, origin, test::DevKey(), false}).problems.empty());
        entries = test::ReadManifest(origin);
    }
    std::string Problems() {
        std::string all;
        for (const std::string& p : VerifyRelease({origin, test::DevKey(), "", false}).problems) all += p + "\n";
        return all;
    }
    std::string Object(const std::string& name) { return origin + "/update/files/" + name; }
    const Entry& Packed() {
        for (const Entry& e : entries)
            if (!e.pack.empty()) return e;
        ADD_FAILURE() << "no packed entry";
        return entries[0];
    }
};

TEST_F(Verify, AcceptsTheBuiltReleaseWithEitherKeyForm) {
    EXPECT_EQ(Problems(), "");
    std::string error;
    std::string pub = PublicHex(LoadPrivateKey(test::DevKey(), error).get());
    VerifyReport r = VerifyRelease({origin, "", pub, false});
    EXPECT_TRUE(r.problems.empty());
    EXPECT_EQ(r.entries, 22u);
    EXPECT_EQ(r.packs, 1u);
}

TEST_F(Verify, CatchesAMissingObject) {
    fs::remove(Object(entries.back().sha256));
    std::string p = Problems();
    EXPECT_NE(p.find(entries.back().sha256 + ": missing (the object of " + entries.back().path + ")"),
              std::string::npos)
        << p;
}

TEST_F(Verify, CatchesCorruptedObjectsOfEveryKind) {
    struct Row {
        const char* name;
        std::string file;
        bool keepSize;
        std::string expected;
    } rows[] = {
        {"stand-alone, one bit", entries.back().sha256, true, "its bytes are not those of Main.exe"},
        {"stand-alone, truncated", entries.back().sha256, false, "its bytes are not those of Main.exe"},
        {"pack, one bit", Packed().pack, true, "the pack's bytes do not hash to its name"},
        {"pack, truncated", Packed().pack, false, "but the pack has"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        std::string original = ReadFile(Object(row.file)), damaged = original;
        if (row.keepSize) damaged[damaged.size() / 2] ^= 1;
        else damaged.pop_back();
        WriteFile(Object(row.file), damaged);
        std::string p = Problems();
        EXPECT_NE(p.find(row.expected), std::string::npos) << p;
        WriteFile(Object(row.file), original);
        EXPECT_EQ(Problems(), "");
    }
}

TEST_F(Verify, CatchesAPackWhoseRangeHoldsOtherBytes) {
    // Swap two packed files' offsets, re-sign: the signature is good but the ranges are wrong.
    std::vector<Entry> swapped = entries;
    Entry* first = nullptr;
    for (Entry& e : swapped)
        if (!e.pack.empty()) {
            if (!first) first = &e;
            else if (e.size != first->size) {
                std::swap(first->offset, e.offset);
                break;
            }
        }
    std::string body = ManifestText(swapped, ReleaseOf(ReadFile(origin + "/update/manifest.json")).value), error;
    WriteFile(origin + "/update/manifest.json", body);
    WriteFile(origin + "/update/manifest.json.sig", SignHex(LoadPrivateKey(test::DevKey(), error).get(), body));
    std::string p = Problems();
    EXPECT_NE(p.find("are not this file"), std::string::npos) << p;
}

TEST_F(Verify, CatchesBadSignatures) {
    std::string sig = ReadFile(origin + "/update/manifest.json.sig");
    std::string flipped = sig;
    flipped[10] = flipped[10] == 'a' ? 'b' : 'a';
    struct Row {
        const char* name;
        std::string sig;
        std::string expected;
    } rows[] = {
        {"one digit changed", flipped, "not a valid signature"},
        {"line end added", sig + "\n", "exactly 128 hex digits"},
        {"empty", "", "exactly 128 hex digits"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        WriteFile(origin + "/update/manifest.json.sig", row.sig);
        std::string p = Problems();
        EXPECT_NE(p.find(row.expected), std::string::npos) << p;
    }
    WriteFile(origin + "/update/manifest.json.sig", sig);
    WriteFile(origin + "/update/manifest.json", ReadFile(origin + "/update/manifest.json") + " ");
    EXPECT_NE(Problems().find("not a valid signature"), std::string::npos);
}

TEST_F(Verify, CatchesASignatureByAnotherKey) {
    std::string other = dir + "/other.pem", pub, error;
    ASSERT_TRUE(GenerateKey(other, pub, error));
    VerifyReport r = VerifyRelease({origin, "", pub, false});
    ASSERT_EQ(r.problems.size(), 1u);
    EXPECT_NE(r.problems[0].find("not a valid signature"), std::string::npos);
}

TEST_F(Verify, CatchesManifestsTheLauncherWouldRefuse) {
    std::string error;
    PKey key = LoadPrivateKey(test::DevKey(), error);
    struct Row {
        const char* name;
        std::string body;
        std::string expected;
    } rows[] = {
        {"unreadable", "{\"files\":[{\"path\":\"a\",\"size\":\"1\"}]}", "cannot read it"},
        {"no files", "{\"files\":[]}", "lists no files"},
        {"bad path", "{\"files\":[{\"path\":\"../x\",\"size\":0,\"sha256\":\"" + std::string(64, 'a') + "\"}]}",
         "../x: has a"},
        {"uppercase digest",
         "{\"files\":[{\"path\":\"x\",\"size\":0,\"sha256\":\"" + std::string(64, 'A') + "\"}]}", "lowercase"},
        {"pack too large",
         "{\"files\":[{\"path\":\"x\",\"size\":0,\"sha256\":\"" + std::string(64, 'a') + "\",\"pack\":\"" +
             std::string(64, 'b') + "\",\"offset\":0,\"packSize\":16777217}]}",
         "packSize outside"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        WriteFile(origin + "/update/manifest.json", row.body);
        WriteFile(origin + "/update/manifest.json.sig", SignHex(key.get(), row.body));
        std::string p = Problems();
        EXPECT_NE(p.find(row.expected), std::string::npos) << p;
    }
}

}  // namespace
}  // namespace orvantis
