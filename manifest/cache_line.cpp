#include "manifest/cache_line.h"

#include <charconv>
#include <cstdint>
#include <cstring>

namespace orvantis {
namespace {

constexpr size_t kMaxDigest = 79;
constexpr size_t kMaxPath = 1599;

// The C locale's whitespace: blank, tab, line feed, vertical tab, form feed, carriage return.
bool IsSpace(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

const char* SkipSpace(const char* p) {
    while (IsSpace(*p)) ++p;
    return p;
}

// A decimal number the way the C library's "%llu" reads it: leading whitespace, an optional
// sign ('-' negates modulo 2^64), at least one digit; a value too large for 64 bits becomes
// the largest one, whatever its sign.
bool ReadNumber(const char*& p, uint64_t& out) {
    p = SkipSpace(p);
    bool negative = false;
    if (*p == '+' || *p == '-') negative = *p++ == '-';
    if (*p < '0' || *p > '9') return false;
    uint64_t value = 0;
    bool overflow = false;
    for (; *p >= '0' && *p <= '9'; ++p) {
        unsigned digit = static_cast<unsigned>(*p - '0');
        if (value > (UINT64_MAX - digit) / 10)
            overflow = true;
        else
            value = value * 10 + digit;
    }
    out = overflow ? UINT64_MAX : negative ? 0 - value : value;
    return true;
}

}  // namespace

// Reads what sscanf(line, "%llu\t%llu\t%79s\t%1599[^\r\n]") reads, byte for byte, without
// depending on the C library's locale. Each tab matches any run of whitespace (or none), so
// a path may hold blanks and tabs, though not at its start; a stray '\r' before the line
// feed is dropped. A digest longer than 79 bytes is cut there and the rest of it runs into
// the path.
bool ParseCacheLine(const char* line, std::string& path, Cached& out) {
    const char* p = line;
    uint64_t size = 0, writeTime = 0;
    if (!ReadNumber(p, size) || !ReadNumber(p, writeTime)) return false;

    p = SkipSpace(p);
    const char* digest = p;
    while (*p != '\0' && !IsSpace(*p) && static_cast<size_t>(p - digest) < kMaxDigest) ++p;
    if (p == digest) return false;
    const char* digestEnd = p;

    p = SkipSpace(p);
    const char* name = p;
    while (*p != '\0' && *p != '\r' && *p != '\n' && static_cast<size_t>(p - name) < kMaxPath) ++p;
    if (p == name) return false;

    path.assign(name, p);
    out.size = size;
    out.writeTime = writeTime;
    out.sha256.assign(digest, digestEnd);
    return true;
}

// The line "%llu\t%llu\t%s\t%s\n" gives, appended in place so that a whole file is built
// in one string. "%s" stops at a zero byte, and so do the text fields here.
void AppendCacheLine(std::string& out, const std::string& path, const Cached& record) {
    char number[24];
    auto appendNumber = [&](uint64_t value) {
        auto end = std::to_chars(number, number + sizeof number, value).ptr;
        out.append(number, end);
        out += '\t';
    };
    appendNumber(record.size);
    appendNumber(record.writeTime);
    out.append(record.sha256.c_str(), strlen(record.sha256.c_str()));
    out += '\t';
    out.append(path.c_str(), strlen(path.c_str()));
    out += '\n';
}

std::string FormatCacheLine(const std::string& path, const Cached& record) {
    std::string line;
    AppendCacheLine(line, path, record);
    return line;
}

size_t NextCachePiece(const char* data, size_t size, bool atEnd) {
    size_t limit = size < kCacheLinePiece ? size : kCacheLinePiece;
    const void* lf = memchr(data, '\n', limit);
    if (lf) return static_cast<size_t>(static_cast<const char*>(lf) - data) + 1;
    if (limit == kCacheLinePiece || atEnd) return limit;
    return 0;
}

}  // namespace orvantis
