// Incremental SHA-256 over the platform's hash provider.
#pragma once

#include <cstdint>
#include <string>

#include "launcher/win.h"
#include <bcrypt.h>

namespace orvantis {

// The process-wide provider, opened once; null if it could not be opened.
BCRYPT_ALG_HANDLE ShaProvider();

struct Sha256 {
    BCRYPT_HASH_HANDLE hash = nullptr;

    Sha256();
    ~Sha256();
    Sha256(const Sha256&) = delete;
    Sha256& operator=(const Sha256&) = delete;

    void Add(const void* data, uint32_t count);
    // Finishes the hash: call once. 64 lowercase hex digits ("0"*64 if hashing failed).
    std::string Hex();
    // Finishes the hash into 32 raw bytes (zeros if hashing failed).
    void Finish(uint8_t digest[32]);
};

}  // namespace orvantis
