#include "tests/support/signing.h"

#include <cstdint>
#include <cstring>

#include "deployment.h"
#include "launcher/win.h"
#include <bcrypt.h>

namespace orvantis::test {
namespace {

// Private scalar of keys/dev-manifest.pem: a development key, never a deployment's.
const uint8_t kDevD[32] = {0xd4, 0x35, 0xa4, 0x91, 0x03, 0x0a, 0x8b, 0x18, 0x24, 0x36, 0x10,
                           0xf0, 0xe5, 0x40, 0xda, 0x51, 0xae, 0x92, 0x54, 0x2e, 0xab, 0x85,
                           0xbe, 0xc8, 0x6e, 0x66, 0x18, 0x3d, 0x12, 0x5f, 0xc4, 0xc9};
const uint8_t kDevX[32] = {ORVANTIS_MANIFEST_KEY_X};
const uint8_t kDevY[32] = {ORVANTIS_MANIFEST_KEY_Y};

std::string Hex(const uint8_t* bytes, size_t n) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (size_t i = 0; i < n; ++i) {
        out += digits[bytes[i] >> 4];
        out += digits[bytes[i] & 15];
    }
    return out;
}

void Digest(const std::string& bytes, uint8_t out[32]) {
    BCRYPT_ALG_HANDLE alg = nullptr;
    BCryptOpenAlgorithmProvider(&alg, BCRYPT_SHA256_ALGORITHM, nullptr, 0);
    BCRYPT_HASH_HANDLE hash = nullptr;
    BCryptCreateHash(alg, &hash, nullptr, 0, nullptr, 0, 0);
    BCryptHashData(hash, (PUCHAR)bytes.data(), (ULONG)bytes.size(), 0);
    BCryptFinishHash(hash, out, 32, 0);
    BCryptDestroyHash(hash);
    BCryptCloseAlgorithmProvider(alg, 0);
}

}  // namespace

std::string HexSha256(const std::string& bytes) {
    uint8_t digest[32] = {};
    Digest(bytes, digest);
    return Hex(digest, 32);
}

std::string SignHex(const std::string& body) {
    uint8_t blob[sizeof(BCRYPT_ECCKEY_BLOB) + 96];
    BCRYPT_ECCKEY_BLOB header{BCRYPT_ECDSA_PRIVATE_P256_MAGIC, 32};
    memcpy(blob, &header, sizeof header);
    memcpy(blob + sizeof header, kDevX, 32);
    memcpy(blob + sizeof header + 32, kDevY, 32);
    memcpy(blob + sizeof header + 64, kDevD, 32);

    BCRYPT_ALG_HANDLE alg = nullptr;
    BCryptOpenAlgorithmProvider(&alg, BCRYPT_ECDSA_P256_ALGORITHM, nullptr, 0);
    BCRYPT_KEY_HANDLE key = nullptr;
    BCryptImportKeyPair(alg, nullptr, BCRYPT_ECCPRIVATE_BLOB, &key, blob, sizeof blob, 0);
    uint8_t digest[32] = {};
    Digest(body, digest);
    uint8_t signature[64] = {};
    ULONG written = 0;
    BCryptSignHash(key, nullptr, digest, 32, signature, 64, &written, 0);
    BCryptDestroyKey(key);
    BCryptCloseAlgorithmProvider(alg, 0);
    return Hex(signature, 64);
}

std::string ManifestText(const std::vector<Entry>& entries) {
    std::string out = "{\"version\":1,\"files\":[\n";
    for (size_t i = 0; i < entries.size(); ++i) {
        const Entry& e = entries[i];
        out += "{\"path\":\"" + e.path + "\",\"size\":" + std::to_string(e.size) + ",\"sha256\":\"" + e.sha256 +
               "\"";
        if (!e.pack.empty())
            out += ",\"pack\":\"" + e.pack + "\",\"offset\":" + std::to_string(e.offset) +
                   ",\"packSize\":" + std::to_string(e.packSize);
        out += i + 1 < entries.size() ? "},\n" : "}\n";
    }
    return out + "]}\n";
}

Entry FileEntry(const std::string& path, const std::string& content) {
    Entry e;
    e.path = path;
    e.size = content.size();
    e.sha256 = HexSha256(content);
    return e;
}

}  // namespace orvantis::test
