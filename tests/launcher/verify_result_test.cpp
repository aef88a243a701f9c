#include "launcher/verify_result.h"

#include <gtest/gtest.h>

#include "launcher/constants.h"
#include "launcher/globals.h"
#include "tests/support/holder.h"
#include "tests/support/temp_folder.h"

namespace orvantis {
namespace {

using VerifyResult = test::GameFolderTest;

TEST_F(VerifyResult, WritesOneWordWithoutLineEndReplacingOldContent) {
    WriteVerifyResult(true);
    bool ok = false;
    EXPECT_EQ(test::ReadFileBytes(Path(kResultName), &ok), "ready");
    EXPECT_TRUE(ok);
    WriteVerifyResult(false);
    EXPECT_EQ(test::ReadFileBytes(Path(kResultName)), "failed");
    WriteVerifyResult(true);
    EXPECT_EQ(test::ReadFileBytes(Path(kResultName)), "ready") << "a longer old result must not show through";
}

TEST_F(VerifyResult, UncreatableFileIsSkipped) {
    ASSERT_TRUE(CreateDirectoryW(Path(kResultName).c_str(), nullptr));
    WriteVerifyResult(true);
    EXPECT_TRUE(GetFileAttributesW(Path(kResultName).c_str()) & FILE_ATTRIBUTE_DIRECTORY);
    gFolder = folder + L"missing\\";
    WriteVerifyResult(false);
    EXPECT_FALSE(test::Exists(folder + L"missing"));
}

// A scanner still looking at the last run's result must not cost a script this run's answer.
TEST_F(VerifyResult, WaitsForAResultAScannerHoldsForAMoment) {
    test::WriteFileBytes(Path(kResultName), "failed");
    test::Holder holder;
    test::Holder::Now(holder, Path(kResultName), 400);
    ASSERT_TRUE(holder.held);
    WriteVerifyResult(true);
    EXPECT_TRUE(holder.done);
    EXPECT_EQ(test::ReadFileBytes(Path(kResultName)), "ready");
}

}  // namespace
}  // namespace orvantis
