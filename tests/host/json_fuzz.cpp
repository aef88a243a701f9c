// libFuzzer target: the manifest reader on arbitrary bytes.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "manifest/json.h"

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
        if (!reread.Files(again) || reread.pos != document.size() || entries != again) abort();
    }

    orvantis::Json skip(body);
    skip.Skip();
    if (skip.pos > body.size() || skip.depth != 0) abort();
    return 0;
}
