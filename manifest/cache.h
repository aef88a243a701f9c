// The hash cache "orvantis_update.cache": size, write time and digest per path.
#pragma once

#include <cstdint>
#include <map>
#include <string>

namespace orvantis {

struct Cached {
    uint64_t size = 0;
    uint64_t writeTime = 0;  // FILETIME as one number, compared for equality only
    std::string sha256;      // empty when the file could not be read
};

using Cache = std::map<std::string, Cached>;

// Empty when the file is missing or unreadable.
Cache LoadCache();
// Rewrites the file; failures are ignored (the next run simply hashes again).
void SaveCache(const Cache& cache);

}  // namespace orvantis
