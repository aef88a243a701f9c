// Writing the manifest, and checking a manifest the way the launcher will read it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "manifest/entry.h"

namespace orvantis {

// The launcher refuses longer manifests while they download.
constexpr size_t kMaxManifestBytes = 67108863;

// One object with the release number as its first member ({"release":N,"files":[...), 0 leaving
// it out, and a "files" array, one entry a line, in the order given. Paths are written as they
// are: the names that would need escapes the launcher's reader lacks are refused earlier.
std::string ManifestText(const std::vector<Entry>& entries, uint64_t release);

// The top-level "release" member of a manifest.
struct ReleaseField {
    bool present = false;
    bool valid = false;  // an unsigned decimal integer of 64 bits, given once
    uint64_t value = 0;
};
ReleaseField ReleaseOf(const std::string& body);

// Why the launcher would refuse the entry before downloading anything; empty when it would not.
std::string EntryProblem(const Entry& entry);

// Reads body with the launcher's own reader and applies the launcher's entry rules, plus the
// name rules of a release. Returns "what: why" lines; none when the launcher will take it.
// read receives the entries the launcher sees.
std::vector<std::string> CheckManifest(const std::string& body, std::vector<Entry>& read);

}  // namespace orvantis
