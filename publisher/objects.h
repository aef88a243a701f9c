// The origin's object store: files named by the SHA-256 of their bytes, written whole or not at all.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "publisher/progress_bar.h"

namespace orvantis {

// One source file's bytes inside an object (a stand-alone file is an object of one part).
struct Part {
    std::string path;      // for messages
    std::string location;  // where it is read
    uint64_t size = 0;
    std::string sha256;
};

// True when file holds exactly size bytes whose SHA-256 is sha256. Feeds bar while reading.
bool ObjectIntact(const std::string& file, uint64_t size, const std::string& sha256, ProgressBar& bar);

// Writes the concatenation of parts to filesDir/name through a temporary name and a rename.
// Every part's bytes and the whole are checked against their digests on the way, so a source
// changed since it was hashed never reaches the store. error names the file at fault.
bool WriteObject(const std::string& filesDir, const std::string& name, const std::vector<Part>& parts,
                 ProgressBar& bar, std::string& error);

// Memory at this alignment lets WriteObjectBytes write past the page cache.
constexpr size_t kDirectAlign = 4096;

// Writes n bytes already checked to hash to name as filesDir/name, through a temporary name and
// a rename. data aligned to kDirectAlign is written faster.
bool WriteObjectBytes(const std::string& filesDir, const std::string& name, const char* data, size_t n,
                      std::string& error);

// Objects are renamed into place without a flush each: one flush of the whole store's file system
// before the manifest is written stands for all of them (see BuildRelease).
bool SyncStore(const std::string& filesDir, std::string& error);

// The whole file, or false.
bool ReadWholeFile(const std::string& path, std::string& out);

}  // namespace orvantis
