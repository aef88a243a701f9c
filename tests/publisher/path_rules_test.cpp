#include "publisher/path_rules.h"

#include <gtest/gtest.h>

namespace orvantis {
namespace {

TEST(PathRules, RefusesWhatTheLauncherRejectsOrWritesElsewhere) {
    struct Row {
        const char* name;
        std::string path;
        const char* why;
    } rows[] = {
        {"backslash", "Data\\x.bmd", "backslash"},
        {"colon", "Data/x:stream", "colon"},
        {"drive", "C:/x", "colon"},
        {"quote", "Data/\"q\".txt", "double quote"},
        {"control", "Data/a\tb", "control character"},
        {"delete", "Data/a\x7f", "control character"},
        {"wildcard", "Data/a*.txt", "does not allow"},
        {"pipe", "a|b", "does not allow"},
        {"lone continuation byte", "Data/\x80.bin", "UTF-8"},
        {"overlong slash", "Data/\xC0\xAF", "UTF-8"},
        {"surrogate", "Data/\xED\xA0\x80", "UTF-8"},
        {"truncated sequence", "Data/\xC3", "UTF-8"},
        {"trailing dot", "Data/readme.", "dot or a blank"},
        {"trailing blank", "Data /x", "dot or a blank"},
        {"device", "CON", "device name"},
        {"device with extension", "Data/nul.txt", "device name"},
        {"device in any case", "Data/Com1.dat", "device name"},
        {"printer port", "lpt9", "device name"},
        {"device before blanks", "AUX .txt", "device name"},
        {"superscript port", "COM\xC2\xB9", "device name"},
        {"dot segment", "Data/./x", "\".\""},
        {"empty segment", "Data//x", "empty"},
        {"absolute", "/Data/x", "relative"},
        {"too long", "Data/" + std::string(196, 'a'), "at most 200, so that it fits game folders of up to 318"},
        {"name too long for its .part file", std::string(251, 'a'), "longer than 250"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        std::string problem = PathProblem(row.path);
        EXPECT_NE(problem.find(row.why), std::string::npos) << problem;
    }
}

TEST(PathRules, AcceptsOrdinaryGameNames) {
    const std::string rows[] = {
        "Main.exe",
        "Data/Player/hero.bmd",
        ".cfg",
        "a..b",
        "CONSOLE.txt",       // only the exact device names are devices
        "COM10",             // so is COM with two digits
        "Data/M\xC3\xBAsica/tema_\xC3\xB1.ogg",
        "Data/\xF0\x9F\x8E\xAE.bin",  // outside the BMP: two UTF-16 units
        "Data/" + std::string(195, 'a'),  // exactly 200 units
    };
    for (const std::string& path : rows) {
        SCOPED_TRACE(path);
        EXPECT_EQ(PathProblem(path), "");
    }
}

TEST(PathRules, CountsLengthInUtf16Units) {
    size_t units = 0;
    ASSERT_TRUE(Utf8Units("a\xC3\xB1\xE2\x82\xAC\xF0\x9F\x8E\xAE", units));
    EXPECT_EQ(units, 5u);  // a, n-tilde, euro: one each; the emoji: a surrogate pair
    // 99 emoji are 198 units but 396 bytes: the limit is on units, as the launcher counts.
    std::string emoji;
    for (int i = 0; i < 99; ++i) emoji += "\xF0\x9F\x8E\xAE";
    EXPECT_EQ(PathProblem("a/" + emoji), "");
    EXPECT_NE(PathProblem("ab/" + emoji), "");
}

// The launcher takes a canonical path of at most 519 units: the game folder, a backslash and the
// relative path.
TEST(PathRules, SaysHowLongAGameFolderTheLongestPathLeaves) {
    EXPECT_EQ(FolderRoom(kMaxPathUnits), 318u);
    EXPECT_EQ(FolderRoom(0) + 1, kLauncherPathUnits);
    std::string emoji = "\xF0\x9F\x8E\xAE";  // two UTF-16 units
    EXPECT_EQ(LongestPathText({"Main.exe", "Data/" + emoji + ".bin", "Data/abc.bin"}),
              "Longest path: 12 characters (Data/abc.bin): it fits game folders of up to 506 characters\n");
    EXPECT_EQ(LongestPathText({"Data/" + std::string(195, 'x')}),
              "Longest path: 200 characters (Data/" + std::string(195, 'x') +
                  "): it fits game folders of up to 318 characters\n");
    EXPECT_NE(LongestPathText({std::string(517, 'y')}).find(": too long for any game folder"), std::string::npos);
    EXPECT_NE(LongestPathText({std::string(516, 'y')}).find("up to 2 characters"), std::string::npos);
    EXPECT_EQ(LongestPathText({}), "");
}

TEST(PathRules, FoldsCaseLikeWindowsNames) {
    EXPECT_EQ(FoldCase("Data/Hero.BMD"), FoldCase("data/hero.bmd"));
    EXPECT_EQ(FoldCase("M\xC3\xBAsica"), FoldCase("M\xC3\x9AsICA"));       // u acute
    EXPECT_EQ(FoldCase("\xC5\x82" "od\xC5\xBA"), FoldCase("\xC5\x81OD\xC5\xB9"));  // Polish l-stroke, z-acute
    EXPECT_EQ(FoldCase("\xD0\xB4\xD0\xB0"), FoldCase("\xD0\x94\xD0\x90"));  // Cyrillic
    EXPECT_NE(FoldCase("a.txt"), FoldCase("b.txt"));
}

TEST(PathRules, LeavesOutTheLaunchersOwnFiles) {
    struct Row {
        std::string path;
        bool leftOut;
    } rows[] = {
        {"orvantis_update.log", true},
        {"Orvantis_Update.cache", true},
        {"orvantis_verify.result", true},
        {"Data/hero.bmd.part", true},
        {".orvantis_pack_0123", true},
        {"OrvantisKesh.old.exe", true},
        {"OrvantisKesh.exe", true},
        {"orvantiskesh.EXE", true},
        {"Data/OrvantisKesh.exe", false},
        {"orvantis_update.release", true},
        {"ORVANTIS_UPDATE.RELEASE", true},
        {"config.ini", true},
        {"Data/config.ini", false},  // only the one beside Main.exe is the launcher's
        {"Data/orvantis_update.log", false},
        {"Data/hero.bmd", false},
        {"Main.exe", false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.path);
        EXPECT_EQ(LeftOutReason(row.path) != nullptr, row.leftOut);
    }
}

TEST(PathRules, PrintsBadBytesEscaped) {
    EXPECT_EQ(Printable("a\xff" "b\n"), "a\\xFFb\\x0A");
    EXPECT_EQ(Printable("M\xC3\xBAsica"), "M\xC3\xBAsica");
}

}  // namespace
}  // namespace orvantis
