#include "update/name_clashes.h"

#include <gtest/gtest.h>

#include <cstdio>

#include "launcher/globals.h"
#include "tests/support/signing.h"
#include "tests/support/temp_folder.h"

namespace orvantis::test {
namespace {

const std::string kPack = "0123456789abcdef0123456789abcdef0123456789abcdef0123456789abcdef";

std::vector<Entry> Named(std::initializer_list<const char*> paths) {
    std::vector<Entry> entries;
    for (const char* path : paths) entries.push_back(FileEntry(path, path));
    return entries;
}

using NamesClashTest = GameFolderTest;

TEST_F(NamesClashTest, FindsEveryTwoEntriesForOneFile) {
    struct Row {
        const char* name;
        std::vector<Entry> entries;
        bool clash;
    } rows[] = {
        {"distinct names", Named({"Main.exe", "Data/a.bin", "Data/b.bin", "Data/a.bin.bak"}), false},
        {"the same path", Named({"Data/a.bin", "Main.exe", "Data/a.bin"}), true},
        {"ASCII case only", Named({"Data/a.bin", "DATA/A.BIN"}), true},
        {"accented case only", Named({"Data/\xC3\xB1" "a.bin", "Data/\xC3\x91" "A.bin"}), true},
        {"Cyrillic case only", Named({"\xD0\xB4.bin", "\xD0\x94.bin"}), true},
        {"a trailing dot", Named({"Data/a.bin", "Data/a.bin."}), true},
        {"a trailing blank", Named({"Data/a.bin", "Data/a.bin "}), true},
        {"the download's own file", Named({"Data/a.bin", "Data/a.bin.part"}), true},
        {"its own file in other case", Named({"Data/A.BIN.PART", "data/a.bin"}), true},
        {"its own file, canonicalised", Named({"Data/a.bin", "Data/a.bin.part."}), true},
        {"a .part with nothing beside it", Named({"Data/a.bin.part", "Data/b.bin"}), false},
        {"a .part of a folder name", Named({"Data/x", "Data/x.part/y"}), false},
        {"entries SafePath refuses are left to the check", Named({"a//b", "a//b", "../x", "../x"}), false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(NamesClash(row.entries), row.clash);
    }
}

// A pack is fetched to ".orvantis_pack_" + its digest (+ ".part") in the game folder, and every
// such name there is removed when a run starts.
TEST_F(NamesClashTest, FindsAnEntryNamedLikeAPacksTemporaryFile) {
    std::string upper = kPack;
    for (char& c : upper) c = static_cast<char>(toupper(c));
    struct Row {
        const char* name;
        std::string path;
        bool clash;
    } rows[] = {
        {"the pack itself", ".orvantis_pack_" + kPack, true},
        {"the pack being fetched", ".orvantis_pack_" + kPack + ".part", true},
        {"another digest", ".orvantis_pack_" + std::string(64, 'f'), true},
        {"the digest in capitals", ".orvantis_pack_" + upper, true},
        {"the prefix in capitals", ".ORVANTIS_PACK_" + kPack, true},
        {"a trailing dot", ".orvantis_pack_" + kPack + ".", true},
        {"in a subfolder", "Data/.orvantis_pack_" + kPack, false},
        {"a short digest", ".orvantis_pack_" + kPack.substr(1), false},
        {"not a digest", ".orvantis_pack_" + std::string(64, 'g'), false},
        {"something after the digest", ".orvantis_pack_" + kPack + ".bak", false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        std::vector<Entry> entries = Named({"Main.exe"});
        entries.push_back(FileEntry(row.path, "x"));
        EXPECT_EQ(NamesClash(entries), row.clash);
    }
}

TEST_F(NamesClashTest, FindsOneClashAmongTwentyThousandEntries) {
    std::vector<Entry> entries;
    for (int i = 0; i < 20000; ++i) {
        char path[64];
        snprintf(path, sizeof path, "Data/Folder%03d/File%05d.bmd", i % 100, i);
        Entry e;
        e.path = path;
        e.sha256 = std::string(64, 'a');
        entries.push_back(e);
    }
    EXPECT_FALSE(NamesClash(entries));
    entries.push_back(entries[12345]);
    entries.back().path = "data/folder045/FILE12345.BMD";
    EXPECT_TRUE(NamesClash(entries));
}

}  // namespace
}  // namespace orvantis::test
