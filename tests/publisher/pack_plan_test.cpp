#include "publisher/pack_plan.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>

#include "tests/publisher/scratch.h"

namespace orvantis {
namespace {

std::vector<SourceFile> Files(size_t count, uint64_t size, const std::string& folder = "Data/") {
    std::vector<SourceFile> out;
    for (size_t i = 0; i < count; ++i) {
        char name[32];
        snprintf(name, sizeof name, "f%05zu.bin", i);
        out.push_back({folder + name, "", size});
    }
    return out;
}

void SortByPath(std::vector<SourceFile>& files) {
    std::sort(files.begin(), files.end(), [](const SourceFile& a, const SourceFile& b) { return a.path < b.path; });
}

uint64_t Sum(const std::vector<SourceFile>& files, const std::vector<size_t>& group) {
    uint64_t sum = 0;
    for (size_t i : group) sum += files[i].size;
    return sum;
}

// Every pack, on a first install (all files needed, the pack being exactly their bytes), must be
// one the launcher fetches whole; otherwise it is a wasted object.
void ExpectLauncherTakesEveryPack(const std::vector<SourceFile>& files,
                                  const std::vector<std::vector<size_t>>& packs) {
    std::set<size_t> seen;
    for (const auto& group : packs) {
        uint64_t packSize = Sum(files, group);
        std::vector<Entry> needed;
        for (size_t i : group) needed.push_back({files[i].path, files[i].size, "", "p", 0, packSize});
        EXPECT_TRUE(test::LauncherTakesWholePack(needed)) << group.size() << " files, " << packSize << " bytes";
        EXPECT_GE(packSize, 1u);
        EXPECT_LE(packSize, kPackLimit);
        EXPECT_TRUE(std::is_sorted(group.begin(), group.end()));
        for (size_t i : group) EXPECT_TRUE(seen.insert(i).second) << "file in two packs";
    }
}

TEST(PackPlan, EveryPackPassesTheLaunchersRuleOnAFirstInstall) {
    struct Row {
        const char* name;
        std::vector<SourceFile> files;
    } rows[] = {
        {"many tiny files", Files(1000, 100)},
        {"files just under the small limit", Files(100, kSmallFile - 1)},
        {"exactly eight", Files(8, 10)},
        {"nine", Files(9, 10)},
        {"mixed sizes", {}},
    };
    for (size_t i = 0; i < 400; ++i) {
        char name[32];
        snprintf(name, sizeof name, "Data/m%03zu", i);
        rows[4].files.push_back({name, "", (i * 7919) % (3 * kSmallFile / 2)});
    }
    for (Row& row : rows) {
        SCOPED_TRACE(row.name);
        SortByPath(row.files);
        auto packs = PlanPacks(row.files);
        EXPECT_FALSE(packs.empty());
        ExpectLauncherTakesEveryPack(row.files, packs);
    }
}

TEST(PackPlan, LeavesOutWhatPacksCannotHelp) {
    EXPECT_TRUE(PlanPacks(Files(7, 100)).empty());             // the launcher never cuts fewer than 8
    EXPECT_TRUE(PlanPacks(Files(50, kSmallFile)).empty());     // large files go alone
    EXPECT_TRUE(PlanPacks(Files(50, 0)).empty());              // a pack of 0 bytes is not a valid pack
    auto files = Files(40, 100);
    files.push_back({"Data/zz_big.bin", "", 50 * kSmallFile});
    for (const auto& group : PlanPacks(files))
        for (size_t i : group) EXPECT_NE(files[i].size, 50 * kSmallFile);
}

TEST(PackPlan, SplitsAtTheLaunchersPackLimit) {
    auto files = Files(200, kSmallFile - 1);  // 200 MiB of small files
    auto packs = PlanPacks(files);
    size_t packed = 0;
    for (const auto& group : packs) {
        EXPECT_LE(Sum(files, group), kPackLimit);
        packed += group.size();
    }
    EXPECT_GE(packs.size(), 13u);
    EXPECT_GE(packed, 190u);
}

// A first install leaves DataUltra out: a pack mixing its files with others would then be fetched
// file by file, so no pack does, whatever the letter case of the folder's name.
TEST(PackPlan, KeepsDataUltraFilesInPacksOfTheirOwn) {
    std::vector<SourceFile> files = Files(30, 100, "Data/");
    for (const char* folder : {"DataUltra/", "dataultra/", "DATAULTRA/", "DataUltraX/", "Data0/", "Main/"})
        for (const auto& f : Files(12, 100, folder)) files.push_back(f);
    SortByPath(files);
    auto ultra = [](const std::string& path) {
        std::string head = path.substr(0, 10);
        for (char& c : head) c = char(tolower((unsigned char)c));
        return head == "dataultra/";
    };
    auto packs = PlanPacks(files);
    ExpectLauncherTakesEveryPack(files, packs);
    size_t ultraPacked = 0, otherPacked = 0;
    for (const auto& group : packs) {
        size_t inUltra = 0;
        for (size_t i : group) inUltra += ultra(files[i].path);
        EXPECT_TRUE(inUltra == 0 || inUltra == group.size()) << inUltra << " of " << group.size();
        (inUltra ? ultraPacked : otherPacked) += group.size();
    }
    EXPECT_EQ(ultraPacked, 36u);  // every DataUltra file, in any case, is packed
    EXPECT_EQ(otherPacked, 30u + 36u);
}

// Adding a file must not rename the other packs: players who already have their files would
// fetch nothing for them, but an operator's store would fill with near-copies.
TEST(PackPlan, AddingAFileChangesOnlyThePackItJoins) {
    auto before = Files(2000, 100);
    auto after = before;
    after.push_back({"Data/f01000a.bin", "", 100});
    SortByPath(after);
    auto Groups = [](const std::vector<SourceFile>& files) {
        std::set<std::vector<std::string>> out;
        for (const auto& group : PlanPacks(files)) {
            std::vector<std::string> names;
            for (size_t i : group) names.push_back(files[i].path);
            out.insert(names);
        }
        return out;
    };
    auto a = Groups(before), b = Groups(after);
    size_t kept = 0;
    for (const auto& g : a) kept += b.count(g);
    EXPECT_GE(a.size(), 20u);
    EXPECT_GE(kept, a.size() - 2);
}

}  // namespace
}  // namespace orvantis
