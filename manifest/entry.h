// One file of the manifest. Shared by the reader, the check, planning and the workers.
#pragma once

#include <cstdint>
#include <string>

namespace orvantis {

struct Entry {
    std::string path;    // UTF-8, relative, '/' separators
    uint64_t size = 0;
    std::string sha256;  // 64 lowercase hex digits; also the object's name on the files host
    std::string pack;    // empty, or the SHA-256 of the pack object that holds the bytes
    uint64_t offset = 0;
    uint64_t packSize = 0;

    bool operator==(const Entry&) const = default;
};

}  // namespace orvantis
