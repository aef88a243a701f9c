#include "manifest/cache.h"

#include <cstdint>
#include <cstdio>

#include "launcher/constants.h"
#include "launcher/globals.h"
#include "launcher/held_files.h"
#include "launcher/own_names.h"
#include "manifest/cache_line.h"

namespace orvantis {
namespace {

constexpr size_t kBlock = 65536;

// The whole file; false when it cannot be opened or its length cannot be told.
bool ReadWhole(const std::wstring& path, std::string& text) {
    FILE* f = OpenStreamHeld(path, L"rb");
    if (!f) return false;
    bool ok = _fseeki64(f, 0, SEEK_END) == 0;
    int64_t length = ok ? _ftelli64(f) : -1;
    ok = length >= 0 && _fseeki64(f, 0, SEEK_SET) == 0;
    if (ok) {
        text.resize(static_cast<size_t>(length));
        text.resize(fread(text.data(), 1, text.size(), f));
    }
    fclose(f);
    return ok;
}

}  // namespace

// A few MB at most, so the file is read whole and cut into its lines in memory.
Cache LoadCache() {
    std::string text;
    if (!ReadWhole(gFolder + kCacheName, text)) return Cache();
    return ParseCacheText(text);
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
