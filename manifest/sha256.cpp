#include "manifest/sha256.h"

#include <cstring>

namespace orvantis {

// Opened by the first caller under the guard of function-local statics, so that
// the update thread and the workers share one handle; a failed open is not retried
// and every hash then comes out as zeros, which matches no real digest.
BCRYPT_ALG_HANDLE ShaProvider() {
    static BCRYPT_ALG_HANDLE handle = [] {
        BCRYPT_ALG_HANDLE h = nullptr;
        if (BCryptOpenAlgorithmProvider(&h, BCRYPT_SHA256_ALGORITHM, nullptr, 0) < 0) h = nullptr;
        return h;
    }();
    return handle;
}

Sha256::Sha256() { BCryptCreateHash(ShaProvider(), &hash, nullptr, 0, nullptr, 0, 0); }

Sha256::~Sha256() {
    if (hash) BCryptDestroyHash(hash);
}

void Sha256::Add(const void* data, uint32_t count) {
    BCryptHashData(hash, static_cast<PUCHAR>(const_cast<void*>(data)), count, 0);
}

void Sha256::Finish(uint8_t digest[32]) {
    memset(digest, 0, 32);
    BCryptFinishHash(hash, digest, 32, 0);
}

std::string Sha256::Hex() {
    static const char digits[] = "0123456789abcdef";
    uint8_t digest[32];
    Finish(digest);
    std::string out;
    out.reserve(64);
    for (uint8_t byte : digest) {
        out += digits[byte >> 4];
        out += digits[byte & 15];
    }
    return out;
}

}  // namespace orvantis
