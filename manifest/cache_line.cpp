#include "manifest/cache_line.h"

#include <cstdio>

namespace orvantis {

// Each tab of the format matches any run of whitespace, so a path may hold blanks
// and tabs, though not at its start; a stray '\r' before the line feed is dropped.
bool ParseCacheLine(const char* line, std::string& path, Cached& out) {
    unsigned long long size = 0, writeTime = 0;
    char sha[80];
    char name[1600];
    if (sscanf(line, "%llu\t%llu\t%79s\t%1599[^\r\n]", &size, &writeTime, sha, name) != 4) return false;
    path = name;
    out.size = size;
    out.writeTime = writeTime;
    out.sha256 = sha;
    return true;
}

std::string FormatCacheLine(const std::string& path, const Cached& record) {
    const char* format = "%llu\t%llu\t%s\t%s\n";
    unsigned long long size = record.size, writeTime = record.writeTime;
    int n = snprintf(nullptr, 0, format, size, writeTime, record.sha256.c_str(), path.c_str());
    if (n <= 0) return std::string();
    std::string line(static_cast<size_t>(n), '\0');
    snprintf(line.data(), line.size() + 1, format, size, writeTime, record.sha256.c_str(), path.c_str());
    return line;
}

}  // namespace orvantis
