// SHA-256 for the publisher (OpenSSL), and hex text helpers shared by its commands.
#pragma once

#include <cstdint>
#include <string>

#include <openssl/evp.h>

namespace orvantis {

struct Digest {
    EVP_MD_CTX* ctx = nullptr;

    Digest();
    ~Digest();
    Digest(const Digest&) = delete;
    Digest& operator=(const Digest&) = delete;

    void Add(const void* data, size_t n);
    // 64 lowercase hex digits of everything added; the digest cannot be fed afterwards.
    std::string Hex();
};

std::string HexOf(const uint8_t* bytes, size_t n);
std::string Sha256Hex(const std::string& bytes);

// SHA-256 of a whole file; false when it cannot be read. size is set to the bytes read.
bool FileSha256(const std::string& path, std::string& hex, uint64_t& size);

// True for exactly 64 lowercase hex digits: the only form the launcher compares equal.
bool IsObjectName(const std::string& text);

}  // namespace orvantis
