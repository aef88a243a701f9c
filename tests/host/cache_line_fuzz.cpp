// libFuzzer target: one hash-cache line as the loader hands it over.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "manifest/cache_line.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // What a 2048-byte fgets buffer can hold: up to the first line feed, at most
    // 2047 bytes, terminated.
    std::string line(reinterpret_cast<const char*>(data), size < 2047 ? size : 2047);
    size_t lf = line.find('\n');
    if (lf != std::string::npos) line.resize(lf + 1);

    std::string path;
    orvantis::Cached record;
    if (!orvantis::ParseCacheLine(line.c_str(), path, record)) return 0;
    if (path.empty() || path.size() > 1599 || record.sha256.empty() || record.sha256.size() > 79) abort();

    // A record that was read once writes and reads back unchanged.
    std::string written = orvantis::FormatCacheLine(path, record);
    std::string path2;
    orvantis::Cached record2;
    if (!orvantis::ParseCacheLine(written.c_str(), path2, record2)) abort();
    if (path2 != path || record2.size != record.size || record2.writeTime != record.writeTime ||
        record2.sha256 != record.sha256)
        abort();
    return 0;
}
