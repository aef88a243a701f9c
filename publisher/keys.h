// The publisher's ECDSA P-256 key: generation, loading, signing and checking manifests.
#pragma once

#include <memory>
#include <string>

#include <openssl/evp.h>

namespace orvantis {

struct PKeyFree {
    void operator()(EVP_PKEY* k) const { EVP_PKEY_free(k); }
};
using PKey = std::unique_ptr<EVP_PKEY, PKeyFree>;

// Creates a new P-256 private key at path (PKCS#8 PEM, mode 0600). Refuses an existing path.
// On success publicHex holds the 130 hex digits 04||X||Y; on failure error says why.
bool GenerateKey(const std::string& path, std::string& publicHex, std::string& error);

// A P-256 private key from a PEM file; empty with error set otherwise.
PKey LoadPrivateKey(const std::string& path, std::string& error);

// A P-256 public key from 130 hex digits 04||X||Y (either case); empty with error set otherwise.
PKey PublicKeyFromHex(const std::string& hex, std::string& error);

// The public point of a key as 130 lowercase hex digits 04||X||Y; empty on failure.
std::string PublicHex(EVP_PKEY* key);

// r||s over SHA-256(body) as 128 lowercase hex digits; empty on failure.
std::string SignHex(EVP_PKEY* key, const std::string& body);

// True when signatureHex is 128 hex digits (either case) forming a valid r||s by key over body.
bool SignatureValid(EVP_PKEY* key, const std::string& body, const std::string& signatureHex);

}  // namespace orvantis
