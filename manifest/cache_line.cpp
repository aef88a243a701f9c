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

const char* SkipSpace(const char* p, const char* end) {
    while (p < end && IsSpace(*p)) ++p;
    return p;
}

bool IsDigit(const char* p, const char* end) { return p < end && *p >= '0' && *p <= '9'; }

// A decimal number the way the C library's "%llu" reads it: leading whitespace, an optional
// sign ('-' negates modulo 2^64), at least one digit; a value too large for 64 bits becomes
// the largest one, whatever its sign.
bool ReadNumber(const char*& p, const char* end, uint64_t& out) {
    p = SkipSpace(p, end);
    bool negative = false;
    if (p < end && (*p == '+' || *p == '-')) negative = *p++ == '-';
    if (!IsDigit(p, end)) return false;
    uint64_t value = 0;
    bool overflow = false;
    for (; IsDigit(p, end); ++p) {
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
// the path. A zero byte ends the line, as it ended the C string the format was read from.
bool ParseCacheLine(std::string_view line, std::string& path, Cached& out) {
    line = line.substr(0, line.find('\0'));
    const char* p = line.data();
    const char* const end = p + line.size();
    uint64_t size = 0, writeTime = 0;
    if (!ReadNumber(p, end, size) || !ReadNumber(p, end, writeTime)) return false;

    p = SkipSpace(p, end);
    const char* digest = p;
    while (p < end && !IsSpace(*p) && static_cast<size_t>(p - digest) < kMaxDigest) ++p;
    if (p == digest) return false;
    const char* digestEnd = p;

    p = SkipSpace(p, end);
    const char* name = p;
    while (p < end && *p != '\r' && *p != '\n' && static_cast<size_t>(p - name) < kMaxPath) ++p;
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

size_t CacheLineLength(std::string_view text) {
    size_t limit = text.size() < kCacheLinePiece ? text.size() : kCacheLinePiece;
    size_t lf = text.substr(0, limit).find('\n');
    return lf == std::string_view::npos ? limit : lf + 1;
}

// The file is written in path order, so each record goes in at the end of the map without
// a search; a later line for the same path replaces the earlier record all the same.
Cache ParseCacheText(std::string_view text) {
    Cache cache;
    std::string path;
    Cached record;
    while (!text.empty()) {
        size_t length = CacheLineLength(text);
        if (ParseCacheLine(text.substr(0, length), path, record))
            cache.insert_or_assign(cache.end(), std::move(path), std::move(record));
        text.remove_prefix(length);
    }
    return cache;
}

}  // namespace orvantis
