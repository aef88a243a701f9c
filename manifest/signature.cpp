#include "manifest/signature.h"

#include <algorithm>
#include <iterator>

#include "deployment.h"
#include "launcher/win.h"
#include "manifest/sha256.h"
#include <bcrypt.h>

namespace orvantis {
namespace {

// The platform's ECC public key blob: magic "ECS1" and key length 32, both
// little-endian, then X and Y big-endian, from the deployment's public key.
constexpr uint8_t kManifestKey[] = {
    'E', 'C', 'S', '1', 32, 0, 0, 0, ORVANTIS_MANIFEST_KEY_X ORVANTIS_MANIFEST_KEY_Y};
static_assert(sizeof kManifestKey == 72, "the key blob is the 8-byte header, X and Y");
static_assert((kManifestKey[0] | kManifestKey[1] << 8 | kManifestKey[2] << 16 |
               static_cast<uint32_t>(kManifestKey[3]) << 24) == BCRYPT_ECDSA_PUBLIC_P256_MAGIC,
              "the blob must carry the P-256 public key magic");

bool Succeeded(NTSTATUS status) { return status >= 0; }

}  // namespace

bool SignedByUs(const std::string& body, const std::vector<uint8_t>& signature) {
    if (signature.size() != 64) return false;
    std::vector<uint8_t> blob(std::begin(kManifestKey), std::end(kManifestKey));

    // A failed open shows up as a failed import below.
    BCRYPT_ALG_HANDLE alg = nullptr;
    BCryptOpenAlgorithmProvider(&alg, BCRYPT_ECDSA_P256_ALGORITHM, nullptr, 0);
    BCRYPT_KEY_HANDLE key = nullptr;
    NTSTATUS imported = BCryptImportKeyPair(alg, nullptr, BCRYPT_ECCPUBLIC_BLOB, &key, blob.data(),
                                            static_cast<ULONG>(blob.size()), 0);
    if (!Succeeded(imported)) {
        if (alg) BCryptCloseAlgorithmProvider(alg, 0);
        return false;
    }

    // One feed for any body the driver accepts; pieces only past the 32-bit count,
    // so that an oversized body is hashed whole rather than cut at a wrapped length.
    uint8_t digest[32];
    {
        Sha256 hash;
        size_t done = 0;
        do {
            size_t piece = std::min<size_t>(body.size() - done, 0x80000000u);
            hash.Add(body.data() + done, static_cast<uint32_t>(piece));
            done += piece;
        } while (done < body.size());
        hash.Finish(digest);
    }

    uint8_t rs[64];
    std::copy(signature.begin(), signature.end(), rs);
    NTSTATUS verified = BCryptVerifySignature(key, nullptr, digest, sizeof digest, rs, sizeof rs, 0);
    BCryptDestroyKey(key);
    BCryptCloseAlgorithmProvider(alg, 0);
    return Succeeded(verified);
}

}  // namespace orvantis
