#include "update/hash_files.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "launcher/owned.h"
#include "tests/support/signing.h"
#include "tests/support/temp_folder.h"

namespace orvantis::test {
namespace {

struct HashFilesTest : GameFolderTest {};

TEST_F(HashFilesTest, HashesWholeFilesAcrossReadChunks) {
    std::string big(2621440 + 7, '\0');
    for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>(i * 131 + (i >> 13));
    WriteFileBytes(Path(L"big.bin"), big);
    WriteFileBytes(Path(L"empty.bin"), "");
    EXPECT_EQ(HashFile(Path(L"big.bin")), HexSha256(big));
    EXPECT_EQ(HashFile(Path(L"empty.bin")), HexSha256(""));
    EXPECT_EQ(HashFile(Path(L"none.bin")), "");
}

TEST_F(HashFilesTest, GivesEveryDigestAtItsOwnIndex) {
    std::vector<std::wstring> paths;
    std::vector<std::string> want;
    for (int i = 0; i < 40; ++i) {
        std::wstring path = Path(L"f" + std::to_wstring(i));
        std::string content(static_cast<size_t>(i) * 37000, static_cast<char>('a' + i % 26));
        if (i % 9 == 4) {
            want.push_back("");  // never there
        } else {
            WriteFileBytes(path, content);
            want.push_back(HexSha256(content));
        }
        paths.push_back(path);
    }
    // One that cannot be opened for reading gives "" too.
    OwnedHandle holder = OpenFile(paths[7].c_str(), GENERIC_READ, 0, OPEN_EXISTING);
    ASSERT_TRUE(holder);
    want[7] = "";
    EXPECT_EQ(HashFiles(paths, [](size_t) {}), want);
    EXPECT_TRUE(HashFiles({}, [](size_t) {}).empty());
}

// The local check shows its progress from this call, so it must come before the read, in
// order, on the calling thread: a file rewritten in the call is read with its new content.
TEST_F(HashFilesTest, TellsTheCallerBeforeItReadsEachOfItsFiles) {
    std::vector<std::wstring> paths;
    for (int i = 0; i < 30; ++i) paths.push_back(Path(L"f" + std::to_wstring(i)));
    const DWORD caller = GetCurrentThreadId();
    std::vector<size_t> calls;
    std::vector<std::string> digests;
    // A helper may, on a busy machine, take every file before the caller takes one.
    for (int attempt = 0; attempt < 5 && calls.empty(); ++attempt) {
        for (size_t k = 0; k < paths.size(); ++k) WriteFileBytes(paths[k], "old " + std::to_string(k));
        digests = HashFiles(paths, [&](size_t k) {
            EXPECT_EQ(GetCurrentThreadId(), caller);
            calls.push_back(k);
            WriteFileBytes(paths[k], "new " + std::to_string(k));
        });
    }
    ASSERT_FALSE(calls.empty()) << "the calling thread read none of the files, five times over";
    for (size_t c = 1; c < calls.size(); ++c) EXPECT_LT(calls[c - 1], calls[c]);
    for (size_t k = 0; k < paths.size(); ++k) {
        SCOPED_TRACE(k);
        bool told = std::find(calls.begin(), calls.end(), k) != calls.end();
        EXPECT_EQ(digests[k], HexSha256((told ? "new " : "old ") + std::to_string(k)));
    }
}

}  // namespace
}  // namespace orvantis::test
