// Reader of the manifest's JSON subset. Includes no Windows header.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "manifest/entry.h"

namespace orvantis {

struct Json {
    const std::string& text;
    size_t pos = 0;
    int depth = 0;  // nesting of skipped values, bounded against hostile input
    bool numbered = false;  // Files met a top-level "release"
    uint64_t release = 0;   // its value, when numbered

    explicit Json(const std::string& body) : text(body) {}

    // Appends the "files" entries to out and reads the top-level "release" number into
    // numbered and release; false on any malformed input (out is then junk). A "release"
    // that is not one unsigned decimal integer below 2^64, or that comes twice, is malformed.
    bool Files(std::vector<Entry>& out);
    // One JSON string at pos into out.
    bool String(std::string& out);
    // One JSON value of any kind at pos.
    bool Skip();
};

}  // namespace orvantis
