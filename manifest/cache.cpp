#include "manifest/cache.h"

#include <cstdio>
#include <cstring>

#include "launcher/constants.h"
#include "launcher/globals.h"
#include "launcher/held_files.h"
#include "launcher/own_names.h"
#include "manifest/cache_line.h"

namespace orvantis {
namespace {

constexpr size_t kBlock = 65536;

}  // namespace

// Read in large blocks and cut into the pieces a line-by-line read into a 2048-byte buffer
// gave: a longer line arrives in pieces, each parsed on its own, and a piece that does not
// look like a record is skipped like a damaged line. The file is written in path order, so
// each record goes in at the end of the map without a search.
Cache LoadCache() {
    Cache cache;
    FILE* f = OpenStreamHeld(gFolder + kCacheName, L"rb");
    if (!f) return cache;
    std::string block(kBlock, '\0');
    char line[kCacheLinePiece + 1];
    size_t have = 0;
    bool atEnd = false;
    while (!atEnd || have > 0) {
        if (!atEnd) {
            size_t got = fread(&block[have], 1, kBlock - have, f);
            have += got;
            atEnd = got == 0;
        }
        size_t start = 0;
        while (size_t length = NextCachePiece(block.data() + start, have - start, atEnd)) {
            memcpy(line, block.data() + start, length);
            line[length] = '\0';
            start += length;
            std::string path;
            Cached record;
            if (ParseCacheLine(line, path, record))
                cache.insert_or_assign(cache.end(), std::move(path), std::move(record));
        }
        // What is left is shorter than one piece, so the block never fills up with it.
        memmove(&block[0], block.data() + start, have - start);
        have -= start;
    }
    fclose(f);
    return cache;
}

// Rewritten in place: a write cut short only costs the next run some hashing, since a
// damaged last line no longer parses and is skipped. Lines are gathered into blocks so
// that a large cache takes a few writes, not one per line.
void SaveCache(const Cache& cache) {
    // Never through a link at its name; a scanner that holds it is waited for, so the hashes of
    // this run are not lost.
    FILE* f = OpenOwnFile(gFolder + kCacheName, false);
    if (!f) return;
    std::string block;
    block.reserve(kBlock + 2 * kCacheLinePiece);
    for (const auto& [path, record] : cache) {
        AppendCacheLine(block, path, record);
        if (block.size() >= kBlock) {
            fwrite(block.data(), 1, block.size(), f);
            block.clear();
        }
    }
    fwrite(block.data(), 1, block.size(), f);
    fclose(f);
}

}  // namespace orvantis
