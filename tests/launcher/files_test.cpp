#include "launcher/files.h"

#include <gtest/gtest.h>

#include "launcher/win.h"
#include "tests/support/temp_folder.h"

namespace orvantis::test {
namespace {

struct FilesTest : GameFolderTest {};

TEST_F(FilesTest, ExistsForFilesAndFoldersOnly) {
    WriteFileBytes(Path(L"Main.exe"), "");
    ASSERT_TRUE(CreateDirectoryW(Path(L"Data").c_str(), nullptr));
    EXPECT_TRUE(orvantis::Exists(Path(L"Main.exe")));
    EXPECT_TRUE(orvantis::Exists(Path(L"Data")));
    EXPECT_TRUE(orvantis::Exists(Path(L"main.EXE")));
    EXPECT_FALSE(orvantis::Exists(Path(L"Missing.exe")));
    EXPECT_FALSE(orvantis::Exists(Path(L"Main.exe\\inside")));
    EXPECT_FALSE(orvantis::Exists(L""));
}

}  // namespace
}  // namespace orvantis::test
