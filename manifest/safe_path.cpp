#include "manifest/safe_path.h"

#include <algorithm>
#include <string_view>

#include "launcher/globals.h"
#include "launcher/text.h"
#include "launcher/win.h"
#include "manifest/ascii.h"

namespace orvantis {
namespace {

constexpr DWORD kPathBuffer = 520;

// Plain relative names only. Bytes below 0x20 are refused too: Windows allows
// none of them in a file name, a zero byte would silently cut the name short at
// the platform call (two entries could then name one file), and a line break
// would split the record of this path in the hash cache.
bool PlainRelative(std::string_view path) {
    if (path.empty() || path.front() == '/') return false;
    for (char c : path)
        if (c == '\\' || c == ':' || static_cast<unsigned char>(c) < 0x20) return false;
    size_t start = 0;
    for (;;) {
        size_t slash = path.find('/', start);
        std::string_view segment = path.substr(start, slash == std::string_view::npos ? slash : slash - start);
        if (segment.empty() || segment == "." || segment == "..") return false;
        if (slash == std::string_view::npos) return true;
        start = slash + 1;
    }
}

// Wine turns "..." into a literal ".." (it strips one trailing dot and stops), which
// passes the prefix check as text and is then followed out of the folder when the file
// is opened. A canonical path must therefore canonicalise to itself, and no name in it
// below the folder may consist of dots alone.
bool Settled(const std::wstring& path, size_t folderLength) {
    wchar_t again[kPathBuffer];
    DWORD n = GetFullPathNameW(path.c_str(), kPathBuffer, again, nullptr);
    if (n != path.size() || path.compare(0, n, again, n) != 0) return false;
    size_t start = folderLength;
    while (start < path.size()) {
        size_t end = path.find(L'\\', start);
        if (end == std::wstring::npos) end = path.size();
        if (path.find_first_not_of(L'.', start) >= end) return false;
        start = end + 1;
    }
    return true;
}

}  // namespace

bool SafePath(const std::string& path, std::wstring& out) {
    if (!PlainRelative(path)) return false;
    std::wstring full = gFolder + Wide(path);
    std::replace(full.begin(), full.end(), L'/', L'\\');

    wchar_t buffer[kPathBuffer];
    DWORD n = GetFullPathNameW(full.c_str(), kPathBuffer, buffer, nullptr);
    if (n == 0 || n >= kPathBuffer) return false;
    out.assign(buffer, n);

    // The final guard: whatever the canonicalisation made of the name (device
    // names, trailing dots and blanks), the result must lie inside the game folder.
    // It must also name something below it: a name that the platform strips to
    // nothing ("...", " ", "Data/ ") would otherwise stand for a folder, not a file.
    return StartsWithIgnoringAsciiCase(out, gFolder) && out.size() > gFolder.size() && out.back() != L'\\' &&
           Settled(out, gFolder.size());
}

}  // namespace orvantis
