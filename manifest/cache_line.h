// The cache file's line format. Includes no Windows header, so it can be fuzzed natively.
#pragma once

#include <string>

#include "manifest/cache.h"

namespace orvantis {

// Parses one line (as read into a 2048-byte buffer); false when it lacks a field.
bool ParseCacheLine(const char* line, std::string& path, Cached& out);
// One line ending with '\n'.
std::string FormatCacheLine(const std::string& path, const Cached& record);

}  // namespace orvantis
