// Reader of the manifest's JSON subset. Includes no Windows header.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "manifest/entry.h"

namespace orvantis {

struct Json {
    const std::string& text;
    size_t pos = 0;
    int depth = 0;  // nesting of skipped values, bounded against hostile input

    explicit Json(const std::string& body) : text(body) {}

    // Appends the "files" entries to out; false on any malformed input (out is then junk).
    bool Files(std::vector<Entry>& out);
    // One JSON string at pos into out.
    bool String(std::string& out);
    // One JSON value of any kind at pos.
    bool Skip();
};

}  // namespace orvantis
