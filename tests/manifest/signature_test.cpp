#include "manifest/signature.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/signing.h"

namespace orvantis {
namespace {

struct Vector {
    const char* name;
    const char* body;  // hex
    const char* rs;    // r||s, hex
    const char* der;   // the same signature as openssl writes it, hex
};

// Real signatures by keys/dev-manifest.pem, made by make_signature_vectors.sh.
const Vector kVectors[] = {
#include "tests/manifest/signature_vectors.inc"
};

std::vector<uint8_t> Bytes(const std::string& hex) {
    std::vector<uint8_t> out;
    EXPECT_TRUE(DecodeSignature(hex, out)) << hex;
    return out;
}

std::string Body(const Vector& v) {
    std::vector<uint8_t> bytes = Bytes(v.body);
    return std::string(bytes.begin(), bytes.end());
}

std::string Upper(std::string s) {
    for (char& c : s)
        if (c >= 'a' && c <= 'f') c = static_cast<char>(c - 'a' + 'A');
    return s;
}

TEST(SignedByUs, AcceptsRealSignaturesInEitherCase) {
    for (const Vector& v : kVectors) {
        SCOPED_TRACE(v.name);
        EXPECT_TRUE(SignedByUs(Body(v), Bytes(v.rs)));
        EXPECT_TRUE(SignedByUs(Body(v), Bytes(Upper(v.rs))));
    }
}

TEST(SignedByUs, RefusesAnyChangeToTheBody) {
    for (const Vector& v : kVectors) {
        SCOPED_TRACE(v.name);
        const std::string body = Body(v);
        const std::vector<uint8_t> signature = Bytes(v.rs);
        for (size_t at : {size_t{0}, body.size() / 2, body.size() - 1}) {
            if (body.empty()) break;
            SCOPED_TRACE(at);
            std::string changed = body;
            changed[at] ^= 0x01;
            EXPECT_FALSE(SignedByUs(changed, signature));
        }
        EXPECT_FALSE(SignedByUs(body + "\n", signature));
        EXPECT_FALSE(SignedByUs(body + '\0', signature));
        if (!body.empty()) {
            EXPECT_FALSE(SignedByUs(body.substr(0, body.size() - 1), signature));
        }
    }
    // The manifest vector ends with a line feed; without it the signature no longer holds.
    std::string manifest = Body(kVectors[0]);
    ASSERT_EQ(manifest.back(), '\n');
    manifest.pop_back();
    EXPECT_FALSE(SignedByUs(manifest, Bytes(kVectors[0].rs)));
}

TEST(SignedByUs, RefusesSignaturesThatAreNotRsOfThisBody) {
    const std::string body = Body(kVectors[0]);
    const std::vector<uint8_t> rs = Bytes(kVectors[0].rs);
    const std::vector<uint8_t> der = Bytes(kVectors[0].der);
    ASSERT_NE(der.size(), 64u);

    std::vector<uint8_t> flippedR = rs, flippedS = rs, swapped(rs.begin() + 32, rs.end());
    flippedR[5] ^= 0x80;
    flippedS[63] ^= 0x01;
    swapped.insert(swapped.end(), rs.begin(), rs.begin() + 32);
    const struct {
        const char* name;
        std::vector<uint8_t> signature;
    } rows[] = {
        {"no header", {}},
        {"DER as openssl writes it", der},
        {"DER cut to 64 bytes", std::vector<uint8_t>(der.begin(), der.begin() + 64)},
        {"one bit of r flipped", flippedR},
        {"one bit of s flipped", flippedS},
        {"s before r", swapped},
        {"63 bytes", std::vector<uint8_t>(rs.begin(), rs.end() - 1)},
        {"65 bytes", [&] { auto s = rs; s.push_back(0); return s; }()},
        {"65 bytes with a leading zero", [&] { auto s = rs; s.insert(s.begin(), 0); return s; }()},
        {"all zeros", std::vector<uint8_t>(64, 0)},
        {"signature of another body", Bytes(kVectors[2].rs)},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_FALSE(SignedByUs(body, row.signature));
    }
}

TEST(SignedByUs, RefusesHeaderTextThatIsNotPlainHex) {
    const std::string body = Body(kVectors[0]);
    const std::string hex = kVectors[0].rs;
    const std::string rows[] = {"", hex.substr(0, 126), hex.substr(0, 127), hex + "0", hex + "00", std::string(" ").append(hex),
                                std::string("0x").append(hex), hex.substr(0, 64) + " " + hex.substr(65)};
    for (const std::string& text : rows) {
        SCOPED_TRACE(text);
        std::vector<uint8_t> signature;
        // A text that decodes must still fail the check; one that does not never reaches it.
        EXPECT_FALSE(DecodeSignature(text, signature) && SignedByUs(body, signature));
    }
}

// Other tests publish releases signed by the test helper; the launcher must accept them.
TEST(SignedByUs, AcceptsTheTestHelpersSignatures) {
    for (const std::string& body : {std::string(), std::string("{\"files\":[]}\n"), std::string(70000, 'x')}) {
        SCOPED_TRACE(body.size());
        std::vector<uint8_t> signature = Bytes(test::SignHex(body));
        EXPECT_TRUE(SignedByUs(body, signature));
        signature[0] ^= 0x01;
        EXPECT_FALSE(SignedByUs(body, signature));
    }
}

}  // namespace
}  // namespace orvantis
