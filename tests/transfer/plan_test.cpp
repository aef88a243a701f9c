#include "transfer/plan.h"

#include <gtest/gtest.h>

#include "update/job.h"

namespace orvantis {
namespace {

using Items = std::vector<std::vector<uint64_t>>;

Entry Loose(const std::string& path, uint64_t size) {
    Entry e;
    e.path = path;
    e.size = size;
    e.sha256 = std::string(64, 'a');
    return e;
}

Entry Packed(const std::string& path, uint64_t size, const std::string& pack, uint64_t packSize) {
    Entry e = Loose(path, size);
    e.pack = pack;
    e.packSize = packSize;
    return e;
}

// Built with append: GCC 12 warns falsely on "literal" + std::to_string(i).
std::string Name(const char* prefix, int i) {
    std::string name = prefix;
    name += std::to_string(i);
    return name;
}

void Add(Job& job, const Entry& e) { job.files.push_back({e, L"C:\\g\\" + std::wstring(e.path.begin(), e.path.end())}); }

TEST(PlanDownloads, EmptyListGivesNothing) {
    Job job;
    job.bytesTotal = 77;
    PlanDownloads(job);
    EXPECT_TRUE(job.work.empty());
    EXPECT_TRUE(job.installed.empty());
    EXPECT_EQ(job.bytesTotal, 0u);
}

TEST(PlanDownloads, LooseFilesInListOrder) {
    Job job;
    Add(job, Loose("c", 30));
    Add(job, Loose("a", 10));
    Add(job, Loose("b", 0));
    PlanDownloads(job);
    EXPECT_EQ(job.work, (Items{{0}, {1}, {2}}));
    EXPECT_EQ(job.installed, std::vector<uint8_t>(3, 0));
    EXPECT_EQ(job.bytesTotal, 40u);
}

// The 8-file and half-size thresholds, each side of the line.
TEST(PlanDownloads, PackThresholds) {
    const std::string pack(64, 'p');
    struct Row {
        const char* name;
        int count;
        uint64_t size;
        uint64_t packSize;
        bool whole;
    } rows[] = {
        {"seven files filling the pack are split", 7, 100, 700, false},
        {"eight files at exactly half the pack", 8, 100, 1600, true},
        {"eight files one byte short of half", 8, 100, 1601, false},
        {"eight files filling the pack", 8, 100, 800, true},
        {"twenty small files of a huge pack", 20, 1, 1000000, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        Job job;
        for (int i = 0; i < row.count; ++i) Add(job, Packed(Name("f", i), row.size, pack, row.packSize));
        PlanDownloads(job);
        std::vector<uint64_t> all;
        for (int i = 0; i < row.count; ++i) all.push_back(i);
        if (row.whole) {
            EXPECT_EQ(job.work, Items{all});
            EXPECT_EQ(job.bytesTotal, row.packSize);
        } else {
            Items singles;
            for (uint64_t k : all) singles.push_back({k});
            EXPECT_EQ(job.work, singles);
            EXPECT_EQ(job.bytesTotal, row.size * row.count);
        }
        EXPECT_EQ(job.installed.size(), size_t(row.count));
    }
}

// Loose files first in list order, then packs in byte order of their names,
// however the manifest interleaves them.
TEST(PlanDownloads, LooseFirstThenPacksByName) {
    const std::string packB = std::string(63, 'e') + "b";
    const std::string packA = std::string(63, 'e') + "a";
    Job job;
    for (int i = 0; i < 8; ++i) {
        Add(job, Packed(Name("b", i), 10, packB, 100));  // 0,2,4,...14 when interleaved
        Add(job, Packed(Name("a", i), 5, packA, 60));
    }
    Add(job, Loose("loose1", 3));
    Add(job, Packed("lonely", 4, std::string(64, '0'), 1000));  // a pack with one needed file
    Add(job, Loose("loose2", 2));
    PlanDownloads(job);
    Items expected{{16}, {18}, {17}};
    expected.push_back({1, 3, 5, 7, 9, 11, 13, 15});
    expected.push_back({0, 2, 4, 6, 8, 10, 12, 14});
    EXPECT_EQ(job.work, expected);
    EXPECT_EQ(job.bytesTotal, 3u + 2u + 4u + 60u + 100u);
}

// The first needed entry's pack size stands for the pack, counted once per pack item.
TEST(PlanDownloads, PackSizeOfFirstEntryCountedOnce) {
    const std::string pack(64, 'c');
    Job job;
    Add(job, Packed("x0", 50, pack, 400));
    for (int i = 1; i < 8; ++i) Add(job, Packed(Name("x", i), 50, pack, 999999));
    PlanDownloads(job);
    ASSERT_EQ(job.work.size(), 1u);
    EXPECT_EQ(job.work[0].size(), 8u);
    EXPECT_EQ(job.bytesTotal, 400u);
}

}  // namespace
}  // namespace orvantis
