#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <set>

#include "publisher/build.h"
#include "publisher/pack_plan.h"
#include "tests/publisher/scratch.h"

namespace orvantis {
namespace {

using test::ReadFile;
using test::WriteFile;

class SampleGame : public test::Scratch {
protected:
    int Make(const std::string& out, const std::string& extra = "") {
        std::string command = "python3 '" + std::string(ORVANTIS_SOURCE_DIR) + "/scripts/make-sample-game.py' '" + out +
                              "' --main '" + dir + "/fake_game.exe' " + extra + " >/dev/null 2>&1";
        return std::system(command.c_str());
    }
};

TEST_F(SampleGame, IsReproducibleAndUsesBothPacksAndStandAloneObjects) {
    WriteFile(dir + "/fake_game.exe", "MZ fake game");
    std::filesystem::remove(game);
    ASSERT_EQ(Make(game), 0);
    ASSERT_EQ(Make(dir + "/again"), 0);
    EXPECT_EQ(ReadFile(game + "/Main.exe"), "MZ fake game");
    EXPECT_TRUE(std::filesystem::is_directory(game + "/DataUltra"));

    // At the same moment, as the release number follows the clock.
    BuildOptions first{game, origin, test::DevKey(), false}, second{dir + "/again", dir + "/origin2", test::DevKey(), false};
    first.now = second.now = 1700000000;
    ASSERT_TRUE(BuildRelease(first).problems.empty());
    ASSERT_TRUE(BuildRelease(second).problems.empty());
    EXPECT_EQ(ReadFile(origin + "/update/manifest.json"), ReadFile(dir + "/origin2/update/manifest.json"));

    std::vector<Entry> entries = test::ReadManifest(origin);
    EXPECT_GE(entries.size(), 200u);
    std::set<std::string> packs;
    size_t alone = 0;
    for (const Entry& e : entries) {
        if (e.pack.empty()) ++alone;
        else packs.insert(e.pack);
    }
    EXPECT_GE(packs.size(), 2u);
    EXPECT_GE(alone, 5u);  // Main.exe and the large files
}

TEST_F(SampleGame, RefusesToWriteIntoAFolderThatHoldsFiles) {
    WriteFile(dir + "/fake_game.exe", "MZ");
    WriteFile(game + "/keep.txt", "mine");
    EXPECT_NE(Make(game), 0);
    EXPECT_EQ(ReadFile(game + "/keep.txt"), "mine");
    EXPECT_FALSE(std::filesystem::exists(game + "/Main.exe"));
}

}  // namespace
}  // namespace orvantis
