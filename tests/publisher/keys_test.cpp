#include "publisher/keys.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <regex>

#include "publisher/digest.h"
#include "tests/publisher/scratch.h"

namespace orvantis {
namespace {

using test::ReadFile;
using test::WriteFile;

class Keys : public test::Scratch {};

TEST(Digest, MatchesPublishedVectors) {
    EXPECT_EQ(Sha256Hex(""), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    EXPECT_EQ(Sha256Hex("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    EXPECT_EQ(Sha256Hex("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"),
              "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
}

TEST_F(Keys, GeneratesAPrivateKeyReadableOnlyByItsOwner) {
    std::string path = dir + "/new.pem", publicHex, error;
    ASSERT_TRUE(GenerateKey(path, publicHex, error)) << error;
    struct stat st;
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_TRUE(std::regex_match(publicHex, std::regex("04[0-9a-f]{128}")));
    PKey key = LoadPrivateKey(path, error);
    ASSERT_TRUE(key) << error;
    EXPECT_EQ(PublicHex(key.get()), publicHex);
}

TEST_F(Keys, NeverOverwritesAnExistingFile) {
    std::string path = dir + "/taken.pem", publicHex, error;
    WriteFile(path, "precious");
    EXPECT_FALSE(GenerateKey(path, publicHex, error));
    EXPECT_NE(error.find("already exists"), std::string::npos);
    EXPECT_EQ(ReadFile(path), "precious");
}

// The launcher's default key is the development key's public half; a mismatch would make every
// development release fail its signature check.
TEST(KeysDev, PublicHalfIsTheLaunchersDefaultKey) {
    std::string error;
    PKey key = LoadPrivateKey(test::DevKey(), error);
    ASSERT_TRUE(key) << error;
    std::string settings = ReadFile(std::string(ORVANTIS_SOURCE_DIR) + "/cmake/settings.cmake");
    std::smatch m;
    ASSERT_TRUE(std::regex_search(settings, m, std::regex("\"(04[0-9a-fA-F]{128})\"")));
    EXPECT_EQ(PublicHex(key.get()), m[1].str());
}

TEST(KeysDev, SignsInTheLaunchersFormAndChecksBack) {
    std::string error;
    PKey key = LoadPrivateKey(test::DevKey(), error);
    ASSERT_TRUE(key) << error;
    std::string body = "{\"files\":[]}\n";
    std::string sig = SignHex(key.get(), body);
    ASSERT_TRUE(std::regex_match(sig, std::regex("[0-9a-f]{128}")));
    EXPECT_TRUE(SignatureValid(key.get(), body, sig));

    PKey pub = PublicKeyFromHex(PublicHex(key.get()), error);
    ASSERT_TRUE(pub) << error;
    std::string upper = sig;
    for (char& c : upper) c = char(toupper(c));
    EXPECT_TRUE(SignatureValid(pub.get(), body, upper));  // the header may come in either case

    std::string flipped = sig;
    flipped[70] = flipped[70] == '0' ? '1' : '0';
    EXPECT_FALSE(SignatureValid(pub.get(), body, flipped));
    EXPECT_FALSE(SignatureValid(pub.get(), body + "\n", sig));
    EXPECT_FALSE(SignatureValid(pub.get(), body, sig + "\n"));
    EXPECT_FALSE(SignatureValid(pub.get(), body, sig.substr(0, 126)));
}

// A signature made by another tool, converted from DER to r||s by hand, checks with our code:
// the form is the same one the launcher takes.
TEST_F(Keys, AcceptsASignatureMadeByTheOpensslTool) {
    std::string body = dir + "/body", der = dir + "/sig.der";
    WriteFile(body, "manifest bytes");
    std::string command = "openssl dgst -sha256 -sign '" + test::DevKey() + "' -out '" + der + "' '" + body + "'";
    ASSERT_EQ(std::system(command.c_str()), 0);
    std::string d = ReadFile(der);
    // SEQUENCE { INTEGER r, INTEGER s }, each at most 33 bytes with a sign byte.
    ASSERT_EQ(uint8_t(d[0]), 0x30);
    size_t at = 2;
    std::string rs;
    for (int i = 0; i < 2; ++i) {
        ASSERT_EQ(d[at], 0x02);
        size_t n = uint8_t(d[at + 1]);
        std::string v = d.substr(at + 2, n);
        while (v.size() > 32) v.erase(0, 1);
        rs += std::string(32 - v.size(), '\0') + v;
        at += 2 + n;
    }
    std::string error;
    PKey key = LoadPrivateKey(test::DevKey(), error);
    EXPECT_TRUE(SignatureValid(key.get(), "manifest bytes", HexOf((const uint8_t*)rs.data(), 64)));
}

TEST(KeysDev, RefusesPublicKeysThatAreNotP256Points) {
    std::string error;
    PKey key = LoadPrivateKey(test::DevKey(), error);
    std::string good = PublicHex(key.get());
    struct Row {
        const char* name;
        std::string hex;
    } rows[] = {
        {"short", good.substr(0, 128)},
        {"compressed prefix", "02" + good.substr(2)},
        {"not hex", good.substr(0, 129) + "g"},
        {"off the curve", good.substr(0, 129) + (good[129] == '0' ? "1" : "0")},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_FALSE(PublicKeyFromHex(row.hex, error));
    }
}

TEST_F(Keys, RefusesAKeyThatIsNotP256) {
    std::string path = dir + "/rsa.pem", error;
    ASSERT_EQ(std::system(("openssl genpkey -algorithm RSA -pkeyopt rsa_keygen_bits:1024 -out '" + path +
                           "' 2>/dev/null").c_str()),
              0);
    EXPECT_FALSE(LoadPrivateKey(path, error));
    EXPECT_NE(error.find("P-256"), std::string::npos);
    EXPECT_FALSE(LoadPrivateKey(dir + "/none.pem", error));
}

}  // namespace
}  // namespace orvantis
