// libFuzzer target: the cache file as the launcher reads it against the C library reading it
// line by line, with fgets into a 2048-byte buffer and sscanf with the cache's format. Any
// difference in a verdict, a field or a record aborts. Natively this compares with glibc;
// the launcher's own scanf is MinGW's, and tests/manifest/cache_line_test.cpp and
// tests/manifest/cache_test.cpp run the same comparisons against it under Wine.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "manifest/cache_line.h"

namespace {

bool ScanfParse(const char* line, std::string& path, orvantis::Cached& out) {
    unsigned long long size = 0, writeTime = 0;
    char sha[80];
    char name[1600];
    if (sscanf(line, "%llu\t%llu\t%79s\t%1599[^\r\n]", &size, &writeTime, sha, name) != 4) return false;
    path = name;
    out = orvantis::Cached{size, writeTime, sha};
    return true;
}

bool Same(const orvantis::Cached& a, const orvantis::Cached& b) {
    return a.size == b.size && a.writeTime == b.writeTime && a.sha256 == b.sha256;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);

    // The first line alone, field by field: what fgets hands over is a NUL-terminated piece
    // of at most 2047 bytes, ending at the first line feed.
    std::string line = text.substr(0, orvantis::CacheLineLength(text));
    std::string expectedPath, path;
    orvantis::Cached expected, record;
    bool scanned = ScanfParse(line.c_str(), expectedPath, expected);
    bool parsed = orvantis::ParseCacheLine(line, path, record);
    if (parsed != scanned) abort();
    if (parsed && (path != expectedPath || !Same(record, expected))) abort();

    // The whole input as a cache file: the same records as a line-by-line read.
    if (size == 0) return 0;
    FILE* f = fmemopen(const_cast<char*>(text.data()), text.size(), "rb");
    if (!f) return 0;
    orvantis::Cache byLines;
    char buffer[2048];
    while (fgets(buffer, sizeof buffer, f)) {
        if (ScanfParse(buffer, expectedPath, expected)) byLines[expectedPath] = expected;
    }
    fclose(f);
    orvantis::Cache whole = orvantis::ParseCacheText(text);
    if (whole.size() != byLines.size()) abort();
    for (auto a = whole.begin(), b = byLines.begin(); a != whole.end(); ++a, ++b)
        if (a->first != b->first || !Same(a->second, b->second)) abort();
    return 0;
}
