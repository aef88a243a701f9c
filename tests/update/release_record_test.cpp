#include "update/release_record.h"

#include <gtest/gtest.h>

#include "launcher/constants.h"
#include "tests/support/temp_folder.h"

namespace orvantis::test {
namespace {

TEST(ReleaseAcceptable, NeverBelowTheRecordNorUnnumberedOnceThereIsOne) {
    const Release none;
    const Release at100{true, 100};
    struct Row {
        const char* name;
        Release offered;
        Release record;
        bool accepted;
    } rows[] = {
        {"no record, unnumbered", none, none, true},
        {"no record, numbered", {true, 5}, none, true},
        {"no record, zero", {true, 0}, none, true},
        {"above the record", {true, 101}, at100, true},
        {"the record itself", {true, 100}, at100, true},
        {"one below", {true, 99}, at100, false},
        {"zero", {true, 0}, at100, false},
        {"unnumbered", none, at100, false},
        {"unnumbered against a record of zero", none, {true, 0}, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(ReleaseAcceptable(row.offered, row.record), row.accepted);
    }
}

using ReleaseRecordFile = GameFolderTest;

TEST_F(ReleaseRecordFile, ReadsOneDecimalNumberAndNothingElse) {
    struct Row {
        const char* name;
        std::string bytes;
        bool present;
        uint64_t number;
    } rows[] = {
        {"a number", "1765200000", true, 1765200000},
        {"the largest", "18446744073709551615", true, UINT64_MAX},
        {"zero", "0", true, 0},
        {"empty, as a write cut short leaves it", "", false, 0},
        {"one past the largest", "18446744073709551616", false, 0},
        {"a line end", "5\r\n", false, 0},
        {"a sign", "-5", false, 0},
        {"far too long", std::string(4096, '1'), false, 0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        WriteFileBytes(Path(kReleaseName), row.bytes);
        Release record = ReadReleaseRecord();
        EXPECT_EQ(record.present, row.present);
        if (row.present) {
            EXPECT_EQ(record.number, row.number);
        }
    }
    DeleteFileW(Path(kReleaseName).c_str());
    EXPECT_FALSE(ReadReleaseRecord().present);
}

TEST_F(ReleaseRecordFile, OnlyRisesAndOnlyForANumber) {
    RaiseReleaseRecord(Release{}, Release{});
    EXPECT_FALSE(Exists(Path(kReleaseName))) << "an unnumbered release starts no record";
    RaiseReleaseRecord(Release{true, 1000}, Release{});
    EXPECT_EQ(ReadFileBytes(Path(kReleaseName)), "1000");
    RaiseReleaseRecord(Release{true, 20}, ReadReleaseRecord());
    EXPECT_EQ(ReadFileBytes(Path(kReleaseName)), "1000");
    RaiseReleaseRecord(Release{true, 1001}, ReadReleaseRecord());
    EXPECT_EQ(ReadFileBytes(Path(kReleaseName)), "1001") << "a longer old record must not show through";
    RaiseReleaseRecord(Release{true, 7}, Release{});
    EXPECT_EQ(ReadFileBytes(Path(kReleaseName)), "7") << "written whole, not appended";
}

}  // namespace
}  // namespace orvantis::test
