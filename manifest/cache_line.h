// The cache file's line format. Includes no Windows header, so it can be fuzzed natively.
#pragma once

#include <string>

#include "manifest/cache.h"

namespace orvantis {

// Parses one line (as read into a 2048-byte buffer); false when it lacks a field.
bool ParseCacheLine(const char* line, std::string& path, Cached& out);
// One line ending with '\n'.
std::string FormatCacheLine(const std::string& path, const Cached& record);
// Appends that same line to `out`, so that a whole file can be built without a string per line.
void AppendCacheLine(std::string& out, const std::string& path, const Cached& record);

// The longest piece the loader hands to ParseCacheLine, without its terminating zero.
constexpr size_t kCacheLinePiece = 2047;
// The length of the next piece at the start of `data`, cut where a line-by-line read into
// a buffer of kCacheLinePiece + 1 bytes would cut it: after the first line feed, after
// kCacheLinePiece bytes, or (only when `atEnd`) at the end of the data. 0 when more data
// is needed to tell, or when there is none.
size_t NextCachePiece(const char* data, size_t size, bool atEnd);

}  // namespace orvantis
