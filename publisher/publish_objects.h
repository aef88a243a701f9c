// Putting a release's objects in the store: every file alone, and the packs.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "publisher/progress_bar.h"
#include "publisher/walk.h"

namespace orvantis {

struct PublishedObjects {
    std::vector<std::string> fileHashes;  // one per file
    std::vector<std::string> packHashes;  // one per pack
    size_t written = 0;                   // objects written
    size_t present = 0;                   // objects already in the store, intact
    uint64_t bytesWritten = 0;
    std::string problem;  // empty when every object is in the store; otherwise names the file or object
};

// Reads and hashes every file once on this thread and hands the bytes to writer threads, which
// store each file's object and each pack's object (packs[p] lists indices into files; packOf[i]
// is file i's pack or -1). The loads waiting between them hold at most inFlight bytes (at least
// 4 MiB; one load larger than that waits until it is alone). On any problem every thread stops,
// no temporary file is left, and the objects already renamed into place stay: each is whole and
// named by its bytes. Feeds bar as files are read.
PublishedObjects PublishObjects(const std::vector<SourceFile>& files, const std::vector<std::vector<size_t>>& packs,
                                const std::vector<int>& packOf, const std::string& filesDir, size_t inFlight,
                                ProgressBar& bar);

}  // namespace orvantis
