// The verify command: would a launcher built with this key take this origin's release?
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "publisher/manifest_text.h"

namespace orvantis {

struct VerifyOptions {
    std::string origin;
    std::string keyPath;    // a private key, or
    std::string publicHex;  // the 130 hex digits the launcher is built with
    bool progress = false;
};

struct VerifyReport {
    std::vector<std::string> problems;  // "what: why"; empty when the release is sound
    size_t entries = 0;
    size_t objects = 0;
    size_t packs = 0;
    ReleaseField release;     // the manifest's release number
    std::string longestPath;  // LongestPathText of its entries
};

VerifyReport VerifyRelease(const VerifyOptions& options);

}  // namespace orvantis
