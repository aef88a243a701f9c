// libFuzzer target: the manifest reader on arbitrary bytes.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "manifest/json.h"

namespace {

bool SameEntries(const std::vector<orvantis::Entry>& a, const std::vector<orvantis::Entry>& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (a[i].path != b[i].path || a[i].size != b[i].size || a[i].sha256 != b[i].sha256 ||
            a[i].pack != b[i].pack || a[i].offset != b[i].offset || a[i].packSize != b[i].packSize)
            return false;
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string body(reinterpret_cast<const char*>(data), size);
    std::vector<orvantis::Entry> entries;
    orvantis::Json json(body);
    bool ok = json.Files(entries);
    if (json.pos > body.size() || json.depth != 0) abort();

    // Whatever follows the closing brace must not matter: the document up to it
    // reads the same on its own.
    if (ok) {
        const std::string document = body.substr(0, json.pos);
        std::vector<orvantis::Entry> again;
        orvantis::Json reread(document);
        if (!reread.Files(again) || reread.pos != document.size() || !SameEntries(entries, again)) abort();
    }

    orvantis::Json skip(body);
    skip.Skip();
    if (skip.pos > body.size() || skip.depth != 0) abort();
    return 0;
}
