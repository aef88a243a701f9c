// The manifest's signature: hex text from the response header, ECDSA P-256 check.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace orvantis {

// Hex (either case) to bytes; false for an odd length or a non-hex byte. "" gives no bytes.
bool DecodeSignature(const std::string& text, std::vector<uint8_t>& out);

// True only for a valid r||s signature by the built-in key over SHA-256(body).
bool SignedByUs(const std::string& body, const std::vector<uint8_t>& signature);

}  // namespace orvantis
