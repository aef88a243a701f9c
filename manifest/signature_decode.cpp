#include "manifest/signature.h"

namespace orvantis {
namespace {

int Nibble(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

}  // namespace

// Strict: a blank, a "0x" prefix or any other stray byte fails, so nothing but the
// exact header value can ever reach the verification.
bool DecodeSignature(const std::string& text, std::vector<uint8_t>& out) {
    if (text.size() % 2 != 0) return false;
    std::vector<uint8_t> bytes;
    bytes.reserve(text.size() / 2);
    for (size_t i = 0; i < text.size(); i += 2) {
        int high = Nibble(text[i]);
        int low = Nibble(text[i + 1]);
        if (high < 0 || low < 0) return false;
        bytes.push_back(static_cast<uint8_t>(high << 4 | low));
    }
    out = std::move(bytes);
    return true;
}

}  // namespace orvantis
