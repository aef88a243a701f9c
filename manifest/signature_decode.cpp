#include "manifest/signature.h"

#include "manifest/ascii.h"

namespace orvantis {

// Strict: a blank, a "0x" prefix or any other stray byte fails, so nothing but the
// exact header value can ever reach the verification.
bool DecodeSignature(const std::string& text, std::vector<uint8_t>& out) { return DecodeHex(text, out); }

}  // namespace orvantis
