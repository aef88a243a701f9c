// libFuzzer target: the signature header text.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "manifest/signature.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    std::vector<uint8_t> bytes;
    if (!orvantis::DecodeSignature(text, bytes)) return 0;

    // Only hex text decodes, and it decodes to exactly the bytes it spells.
    static const char digits[] = "0123456789abcdef";
    std::string lower;
    for (char c : text) lower += (c >= 'A' && c <= 'F') ? static_cast<char>(c - 'A' + 'a') : c;
    std::string spelled;
    for (uint8_t b : bytes) {
        spelled += digits[b >> 4];
        spelled += digits[b & 15];
    }
    if (spelled != lower) abort();
    return 0;
}
