#include "tests/support/signing.h"

#include <gtest/gtest.h>

namespace orvantis::test {
namespace {

// The helpers other tests build releases with must themselves be right.
TEST(TestSigning, HashesKnownVectorsAndSignsDifferentlyEachTime) {
    EXPECT_EQ(HexSha256(""), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    EXPECT_EQ(HexSha256("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    std::string a = SignHex("body"), b = SignHex("body");
    EXPECT_EQ(a.size(), 128u);
    EXPECT_NE(a, b);  // ECDSA draws a fresh nonce; equal output would mean no signing happened
}

}  // namespace
}  // namespace orvantis::test
