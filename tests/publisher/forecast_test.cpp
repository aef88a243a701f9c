#include "publisher/forecast.h"

#include <gtest/gtest.h>

namespace orvantis {
namespace {

Entry File(const std::string& path, uint64_t size, char digest) {
    Entry e;
    e.path = path;
    e.size = size;
    e.sha256 = std::string(64, digest);
    return e;
}

Entry Packed(const std::string& path, uint64_t size, char digest, char pack, uint64_t offset, uint64_t packSize) {
    Entry e = File(path, size, digest);
    e.pack = std::string(64, pack);
    e.offset = offset;
    e.packSize = packSize;
    return e;
}

// A pack of count files of size bytes each, named name0, name1, ...
std::vector<Entry> Pack(const std::string& name, int count, uint64_t size, char digest, char pack) {
    std::vector<Entry> out;
    for (int i = 0; i < count; ++i)
        out.push_back(Packed(name + std::to_string(i), size, char(digest + i), pack, uint64_t(i) * size, count * size));
    return out;
}

std::vector<Entry> Join(std::initializer_list<std::vector<Entry>> parts) {
    std::vector<Entry> out;
    for (const auto& part : parts) out.insert(out.end(), part.begin(), part.end());
    return out;
}

TEST(Forecast, FirstInstallTakesWholePacksAndLeavesOutDataUltraAndTheLauncher) {
    std::vector<Entry> entries = Join({
        Pack("Data/a", 10, 100, 'A', '1'),
        Pack("DataUltra/u", 10, 100, 'a', '2'),
        {File("Main.exe", 5000, 'm'), File("orvantiskesh.EXE", 700, 'o'), File("DATAULTRA/big", 9000, 'u'),
         File("dataultra/other", 9, 'v'), File("DataUltraX/kept", 3, 'x')},
    });
    Downloads first = PlanFor(entries, {}, false);
    EXPECT_EQ(first.files, 12u);  // the pack's ten, Main.exe, DataUltraX/kept
    EXPECT_EQ(first.packs, 1u);
    EXPECT_EQ(first.standAlone, 2u);
    EXPECT_EQ(first.bytes, 1000u + 5000u + 3u);

    Downloads withUltra = PlanFor(entries, {}, true);
    EXPECT_EQ(withUltra.files, 24u);
    EXPECT_EQ(withUltra.packs, 2u);
    EXPECT_EQ(withUltra.standAlone, 4u);
    EXPECT_EQ(withUltra.bytes, 2000u + 5000u + 3u + 9000u + 9u);
}

// Needed is what a launcher finds missing or different; a pack is taken whole only by the
// launcher's rule (8 needed files, half its bytes), otherwise file by file.
TEST(Forecast, AnUpdateFetchesWhatChangedByTheLaunchersRule) {
    std::vector<Entry> before = Join({Pack("Data/a", 10, 100, 'A', '1'), Pack("Data/b", 10, 100, 'a', '2'),
                                      {File("Main.exe", 5000, 'm'), File("Data/gone", 1, 'g')}});
    std::vector<Entry> after = before;
    after.pop_back();                                           // removed
    after.push_back(File("Data/new", 42, 'n'));                 // added
    after[0] = Packed("Data/a0", 100, 'Z', '3', 0, 1000);       // one file of pack 1 changed: a new pack
    for (int i = 10; i < 20; ++i) after[size_t(i)].pack = std::string(64, '4');  // pack 2 renamed, same files
    for (int i = 10; i < 18; ++i) after[size_t(i)].sha256 = std::string(64, char('n' + i));  // 8 of them changed
    after[20] = File("main.EXE", 5000, 'm');                    // same file, other letter case

    Forecast f = ForecastRelease(before, after);
    EXPECT_EQ(f.changed, 9u);
    EXPECT_EQ(f.added, 1u);
    EXPECT_EQ(f.removed, 1u);
    EXPECT_FALSE(f.ultra);
    EXPECT_EQ(f.update.files, 10u);
    EXPECT_EQ(f.update.packs, 1u);       // the 8 of pack 4: 800 of its 1000 bytes
    EXPECT_EQ(f.update.standAlone, 2u);  // Data/a0 alone, and Data/new
    EXPECT_EQ(f.update.bytes, 1000u + 100u + 42u);

    Forecast same = ForecastRelease(before, before);
    EXPECT_EQ(same.changed + same.added + same.removed, 0u);
    EXPECT_EQ(same.update.files, 0u);
    EXPECT_EQ(same.update.Requests(), 0u);
}

TEST(Forecast, TextGivesEveryFigure) {
    std::vector<Entry> before = {File("Main.exe", 5000, 'm'), File("DataUltra/t", 20, 't')};
    std::vector<Entry> after = {File("Main.exe", 6000, 'n'), File("DataUltra/t", 30, 'u')};
    std::string text = ForecastText(ForecastRelease(before, after), false, 777);
    EXPECT_NE(text.find("Changed: 2 files, added: 0, removed: 0\n"), std::string::npos) << text;
    EXPECT_NE(text.find("Update: 1 files, 1 requests (0 whole packs, 1 objects), 6000 bytes (0.0 MiB)\n"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("Update with DataUltra: 2 files, 2 requests (0 whole packs, 2 objects), 6030 bytes"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("First install: 1 files, 1 requests (0 whole packs, 1 objects), 6000 bytes"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("Every run also fetches the manifest: 1 request, 777 bytes\n"), std::string::npos) << text;

    std::string unchanged = ForecastText(ForecastRelease(after, after), false, 1);
    EXPECT_NE(unchanged.find("Update: nothing to download\n"), std::string::npos) << unchanged;
    std::string first = ForecastText(ForecastRelease({}, after), true, 1);
    EXPECT_EQ(first.find("Update"), std::string::npos) << first;
    EXPECT_NE(first.find("First install: 1 files"), std::string::npos) << first;
}

}  // namespace
}  // namespace orvantis
