#include "manifest/sha256.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/signing.h"

namespace orvantis {
namespace {

std::string HexOf(const std::string& bytes) {
    Sha256 hash;
    hash.Add(bytes.data(), static_cast<uint32_t>(bytes.size()));
    return hash.Hex();
}

TEST(Sha256, MatchesPublishedVectors) {
    const struct {
        const char* name;
        std::string message;
        const char* digest;
    } rows[] = {
        {"empty", "", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {"abc", "abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {"448 bits", "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
         "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
        {"896 bits",
         "abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmnoijklmnopjklmnopqklmnopqrlmnopqrsmnopqrs"
         "tnopqrstu",
         "cf5b16a778af8380036ce59e7b0492370b249b11e8f07a51afac45037afee9d1"},
        {"a million 'a'", std::string(1000000, 'a'),
         "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(HexOf(row.message), row.digest);
    }
}

TEST(Sha256, HashesNothingAddedAsTheEmptyMessage) {
    Sha256 hash;
    EXPECT_EQ(hash.Hex(), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
}

TEST(Sha256, RawFinishGivesTheBytesBehindTheHexDigits) {
    Sha256 hash;
    hash.Add("abc", 3);
    uint8_t digest[32];
    hash.Finish(digest);
    const uint8_t expected[32] = {0xba, 0x78, 0x16, 0xbf, 0x8f, 0x01, 0xcf, 0xea, 0x41, 0x41, 0x40,
                                  0xde, 0x5d, 0xae, 0x22, 0x23, 0xb0, 0x03, 0x61, 0xa3, 0x96, 0x17,
                                  0x7a, 0x9c, 0xb4, 0x10, 0xff, 0x61, 0xf2, 0x00, 0x15, 0xad};
    EXPECT_EQ(std::vector<uint8_t>(digest, digest + 32), std::vector<uint8_t>(expected, expected + 32));
}

TEST(Sha256, SplitFeedsEqualOneFeed) {
    std::string data(10000, '\0');
    for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>((i * 131 + 7) % 251);
    const std::string whole = HexOf(data);
    ASSERT_EQ(whole.size(), 64u);
    ASSERT_EQ(whole.find_first_not_of("0123456789abcdef"), std::string::npos);

    const struct {
        const char* name;
        std::vector<size_t> cuts;
    } rows[] = {
        {"at block edges", {63, 64, 65, 128, 9999}},
        {"empty pieces", {0, 0, 5000, 5000, 10000}},
        {"one byte", {1}},
        {"all but the last byte", {9999}},
        {"many small pieces", [] {
             std::vector<size_t> v;
             for (size_t at = 7; at < 10000; at += 7) v.push_back(at);
             return v;
         }()},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        Sha256 hash;
        size_t from = 0;
        for (size_t cut : row.cuts) {
            hash.Add(data.data() + from, static_cast<uint32_t>(cut - from));
            from = cut;
        }
        hash.Add(data.data() + from, static_cast<uint32_t>(data.size() - from));
        EXPECT_EQ(hash.Hex(), whole);
    }
}

// ctest runs every test in a process of its own, so here the threads really are the
// first to ask for the provider, all at once.
TEST(Sha256, ManyThreadsMakingTheirFirstHashShareOneProvider) {
    constexpr int kThreads = 16;
    std::atomic<bool> go{false};
    std::atomic<int> waiting{0};
    std::vector<BCRYPT_ALG_HANDLE> providers(kThreads);
    std::vector<std::string> digests(kThreads);
    std::vector<std::thread> threads;
    for (int i = 0; i < kThreads; ++i) {
        threads.emplace_back([&, i] {
            ++waiting;
            while (!go) std::this_thread::yield();
            Sha256 hash;
            hash.Add("abc", 3);
            digests[i] = hash.Hex();
            providers[i] = ShaProvider();
        });
    }
    while (waiting < kThreads) std::this_thread::yield();
    go = true;
    for (std::thread& t : threads) t.join();
    ASSERT_NE(providers[0], nullptr);
    for (int i = 0; i < kThreads; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(providers[i], providers[0]);
        EXPECT_EQ(digests[i], "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    }
    EXPECT_EQ(ShaProvider(), providers[0]);
}

// The tests name objects by the test helper's digest, computed apart from the launcher's: it
// must agree with the published vectors too, or a wrong launcher digest could go unseen.
TEST(Sha256, TestHelperMatchesPublishedVectors) {
    EXPECT_EQ(test::HexSha256(""), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    EXPECT_EQ(test::HexSha256("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
}

}  // namespace
}  // namespace orvantis
