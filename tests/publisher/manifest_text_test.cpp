#include "publisher/manifest_text.h"

#include <gtest/gtest.h>

#include "manifest/json.h"

namespace orvantis {
namespace {

std::vector<Entry> TwoEntries() {
    Entry a{"Data/a.bin", 3, std::string(64, 'a'), "", 0, 0};
    Entry b{"Main.exe", 5, std::string(64, 'b'), std::string(64, 'c'), 0, 5};
    return {a, b};
}

// The launcher reads the entries as before: the number is a member its reader skips.
TEST(ManifestText, WritesTheReleaseNumberFirstAndTheLaunchersReaderSkipsIt) {
    std::string body = ManifestText(TwoEntries(), 1733650000);
    EXPECT_EQ(body.rfind("{\"release\":1733650000,\"files\":[\n{\"path\":\"Data/a.bin\",", 0), 0u) << body;
    std::vector<Entry> read;
    ASSERT_TRUE(Json(body).Files(read));
    EXPECT_EQ(read, TwoEntries());
    EXPECT_EQ(ManifestText(TwoEntries(), 0).rfind("{\"files\":[\n", 0), 0u);
}

TEST(ManifestText, ReadsTheReleaseNumberOnlyInItsOneForm) {
    struct Row {
        const char* name;
        std::string body;
        bool present, valid;
        uint64_t value;
    } rows[] = {
        {"none", "{\"files\":[]}", false, false, 0},
        {"first", "{\"release\":42,\"files\":[]}", true, true, 42},
        {"after the files, with blanks", "{\"files\":[{\"path\":\"a\"}] , \"release\" : 7 }", true, true, 7},
        {"the largest", "{\"release\":18446744073709551615}", true, true, 18446744073709551615ull},
        {"past 64 bits", "{\"release\":18446744073709551616}", true, false, 0},
        {"quoted", "{\"release\":\"42\"}", true, false, 0},
        {"negative", "{\"release\":-42}", true, false, 0},
        {"a fraction", "{\"release\":4.2}", true, false, 0},
        {"an exponent", "{\"release\":4e2}", true, false, 0},
        {"null", "{\"release\":null}", true, false, 0},
        {"twice", "{\"release\":1,\"release\":2}", true, false, 2},
        {"inside an entry only", "{\"files\":[{\"release\":5}]}", false, false, 0},
        {"not an object", "[{\"release\":5}]", false, false, 0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        ReleaseField f = ReleaseOf(row.body);
        EXPECT_EQ(f.present, row.present);
        EXPECT_EQ(f.valid, row.valid);
        if (row.valid) EXPECT_EQ(f.value, row.value);
    }
}

}  // namespace
}  // namespace orvantis
