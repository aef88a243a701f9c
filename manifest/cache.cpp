#include "manifest/cache.h"

#include <cstdio>

#include "launcher/constants.h"
#include "launcher/globals.h"
#include "manifest/cache_line.h"

namespace orvantis {

// A line longer than the buffer arrives in pieces and each piece is parsed on its
// own; a piece that does not look like a record is skipped, like a damaged line.
Cache LoadCache() {
    Cache cache;
    FILE* f = _wfopen((gFolder + kCacheName).c_str(), L"rb");
    if (!f) return cache;
    char line[2048];
    while (fgets(line, sizeof line, f)) {
        std::string path;
        Cached record;
        if (ParseCacheLine(line, path, record)) cache[path] = std::move(record);
    }
    fclose(f);
    return cache;
}

// Rewritten in place: a write cut short only costs the next run some hashing,
// since a damaged last line no longer parses and is skipped.
void SaveCache(const Cache& cache) {
    FILE* f = _wfopen((gFolder + kCacheName).c_str(), L"wb");
    if (!f) return;
    for (const auto& [path, record] : cache) {
        std::string line = FormatCacheLine(path, record);
        fwrite(line.data(), 1, line.size(), f);
    }
    fclose(f);
}

}  // namespace orvantis
