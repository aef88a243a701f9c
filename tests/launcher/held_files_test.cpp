#include "launcher/held_files.h"

#include <gtest/gtest.h>

#include <vector>

#include "tests/support/holder.h"
#include "tests/support/temp_folder.h"

namespace orvantis::test {
namespace {

TEST(WhileHeld, TriesAgainOnlyWhileTheFailureLooksLikeAHold) {
    struct Row {
        const char* name;
        std::vector<DWORD> failures;  // the errors of the first tries; the next one succeeds
        bool succeeds;
        size_t calls;
    };
    const Row rows[] = {
        {"at once", {}, true, 1},
        {"after sharing violations", {ERROR_SHARING_VIOLATION, ERROR_SHARING_VIOLATION}, true, 3},
        {"after a lock violation", {ERROR_LOCK_VIOLATION}, true, 2},
        {"after access denied", {ERROR_ACCESS_DENIED}, true, 2},
        {"a missing file is not waited for", {ERROR_FILE_NOT_FOUND}, false, 1},
        {"a full disk is not waited for", {ERROR_SHARING_VIOLATION, ERROR_DISK_FULL}, false, 2},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        size_t calls = 0;
        bool done = WhileHeld([&] {
            if (calls < row.failures.size()) {
                SetLastError(row.failures[calls++]);
                return false;
            }
            ++calls;
            return true;
        });
        EXPECT_EQ(done, row.succeeds);
        EXPECT_EQ(calls, row.calls);
        if (!row.succeeds) {
            EXPECT_EQ(GetLastError(), row.failures.back());
        }
    }
}

TEST(WhileHeld, GivesUpAfterAboutTwoSecondsWithTheHoldsError) {
    size_t calls = 0;
    ULONGLONG start = GetTickCount64();
    bool done = WhileHeld([&] {
        ++calls;
        SetLastError(ERROR_SHARING_VIOLATION);
        return false;
    });
    ULONGLONG took = GetTickCount64() - start;
    EXPECT_FALSE(done);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    EXPECT_EQ(calls, std::size(kHeldWaits) + 1);
    EXPECT_GE(took, 1800u);
    EXPECT_LT(took, 10000u);
}

using HeldFiles = GameFolderTest;

// Each operation meets its file held without sharing for 400 ms, and waits for it.
TEST_F(HeldFiles, EveryOperationWaitsForAFileHeldForAMoment) {
    struct Row {
        const char* name;
        std::function<bool()> operation;
        std::wstring held;
    };
    std::wstring a = Path(L"a.bin"), b = Path(L"b.bin");
    FILE* stream = nullptr;
    const Row rows[] = {
        {"rename onto it", [&] { return MoveHeld(b, a); }, a},
        {"rename it away", [&] { return MoveHeld(a, b); }, a},
        {"delete it", [&] { return DeleteHeld(a); }, a},
        {"open it for reading", [&] { return static_cast<bool>(OpenHeld(a, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING)); }, a},
        {"create it anew", [&] { return static_cast<bool>(OpenHeld(a, GENERIC_WRITE, 0, CREATE_ALWAYS)); }, a},
        {"stream to append", [&] { return (stream = OpenStreamHeld(a, L"ab")) != nullptr; }, a},
        {"stream to read", [&] { return (stream = OpenStreamHeld(a, L"rb")) != nullptr; }, a},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        DeleteFileW(a.c_str());
        DeleteFileW(b.c_str());
        WriteFileBytes(a, "aaa");
        WriteFileBytes(b, "bbb");
        Holder holder;
        Holder::Now(holder, row.held, 400);
        ASSERT_TRUE(holder.held);
        EXPECT_TRUE(row.operation());
        EXPECT_TRUE(holder.done) << "the operation did not meet the hold";
        if (stream) fclose(stream);
        stream = nullptr;
    }
}

TEST_F(HeldFiles, AFileHeldLongerStillFails) {
    std::wstring a = Path(L"a.bin"), b = Path(L"b.bin");
    WriteFileBytes(a, "aaa");
    WriteFileBytes(b, "bbb");
    OwnedHandle held = OpenFile(a.c_str(), GENERIC_READ, 0, OPEN_EXISTING);
    ASSERT_TRUE(held);
    EXPECT_FALSE(MoveHeld(b, a));
    EXPECT_TRUE(MayBeHeld(GetLastError())) << GetLastError();
    EXPECT_FALSE(DeleteHeld(a));
    EXPECT_EQ(OpenStreamHeld(a, L"rb"), nullptr);
    held.Reset();
    EXPECT_EQ(ReadFileBytes(a), "aaa");
    EXPECT_EQ(ReadFileBytes(b), "bbb");
}

}  // namespace
}  // namespace orvantis::test
