// The cache file's text: how its lines are cut, read and written. Includes no Windows
// header, so it can be fuzzed natively.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "manifest/cache.h"

namespace orvantis {

// The longest line the cache file is read in: a longer one goes on as a line of its own.
constexpr size_t kCacheLinePiece = 2047;

// The length of the first line of text: through its line feed, but at most kCacheLinePiece
// bytes, or all of text when neither comes first. 0 only for an empty text.
size_t CacheLineLength(std::string_view text);

// Parses one line as CacheLineLength cuts it; false when it lacks a field.
bool ParseCacheLine(std::string_view line, std::string& path, Cached& out);

// Every record of a whole cache file's text; a line without four fields is skipped, and a
// later line for a path replaces the earlier one.
Cache ParseCacheText(std::string_view text);

// One line ending with '\n'.
std::string FormatCacheLine(const std::string& path, const Cached& record);
// Appends that same line to `out`, so that a whole file can be built without a string per line.
void AppendCacheLine(std::string& out, const std::string& path, const Cached& record);

}  // namespace orvantis
