#include "publisher/digest.h"

#include <cstdio>
#include <vector>

#include "manifest/ascii.h"

namespace orvantis {

Digest::Digest() : ctx(EVP_MD_CTX_new()) { EVP_DigestInit_ex(ctx, EVP_sha256(), nullptr); }

Digest::~Digest() { EVP_MD_CTX_free(ctx); }

void Digest::Add(const void* data, size_t n) { EVP_DigestUpdate(ctx, data, n); }

std::string Digest::Hex() {
    uint8_t out[32] = {};
    unsigned int n = 0;
    EVP_DigestFinal_ex(ctx, out, &n);
    return HexOf(out, sizeof out);
}

std::string HexOf(const uint8_t* bytes, size_t n) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    out.reserve(n * 2);
    for (size_t i = 0; i < n; ++i) {
        out += digits[bytes[i] >> 4];
        out += digits[bytes[i] & 15];
    }
    return out;
}

std::string Sha256Hex(const std::string& bytes) {
    Digest d;
    d.Add(bytes.data(), bytes.size());
    return d.Hex();
}

bool FileSha256(const std::string& path, std::string& hex, uint64_t& size) {
    FILE* f = fopen(path.c_str(), "rb");
    if (!f) return false;
    Digest d;
    std::vector<char> buffer(1 << 20);
    size = 0;
    size_t n;
    while ((n = fread(buffer.data(), 1, buffer.size(), f)) > 0) {
        d.Add(buffer.data(), n);
        size += n;
    }
    bool ok = !ferror(f);
    fclose(f);
    if (ok) hex = d.Hex();
    return ok;
}

bool IsObjectName(const std::string& text) { return text.size() == 64 && IsLowerHex(text); }

}  // namespace orvantis
