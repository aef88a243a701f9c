// libFuzzer target: the hand-written cache line parser against the C library's sscanf with
// the format the cache was read with before. Any difference in verdict or field aborts.
// Natively this compares with glibc; the launcher's own scanf is MinGW's, and the table in
// tests/manifest/cache_line_test.cpp runs the same comparison against it under Wine.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "manifest/cache_line.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // What the loader hands over: a NUL-terminated piece of at most 2047 bytes, ending at
    // the first line feed (an embedded NUL ends the string for both readers alike).
    std::string line(reinterpret_cast<const char*>(data), size < 2047 ? size : 2047);
    size_t lf = line.find('\n');
    if (lf != std::string::npos) line.resize(lf + 1);

    unsigned long long size1 = 0, writeTime = 0;
    char sha[80];
    char name[1600];
    bool expected = sscanf(line.c_str(), "%llu\t%llu\t%79s\t%1599[^\r\n]", &size1, &writeTime, sha, name) == 4;

    std::string path;
    orvantis::Cached record;
    bool parsed = orvantis::ParseCacheLine(line.c_str(), path, record);
    if (parsed != expected) abort();
    if (!parsed) return 0;
    if (path != name || record.sha256 != sha || record.size != size1 || record.writeTime != writeTime) abort();
    return 0;
}
