// Test releases: manifests signed in-process with the development key.
#pragma once

#include <string>
#include <vector>

#include "manifest/entry.h"

namespace orvantis::test {

// SHA-256 of bytes as 64 lowercase hex digits, computed without the launcher's hasher.
std::string HexSha256(const std::string& bytes);

// r||s signature by keys/dev-manifest.pem over SHA-256(body), as 128 lowercase hex digits.
std::string SignHex(const std::string& body);

// A manifest body listing the entries (every field written), in the given order.
std::string ManifestText(const std::vector<Entry>& entries);

// An entry for a stand-alone file with this content.
Entry FileEntry(const std::string& path, const std::string& content);

}  // namespace orvantis::test
