#include "manifest/safe_path.h"

#include <algorithm>
#include <string_view>

#include "launcher/globals.h"
#include "launcher/text.h"
#include "launcher/win.h"

namespace orvantis {
namespace {

constexpr DWORD kPathBuffer = 520;

wchar_t AsciiLower(wchar_t c) { return c >= L'A' && c <= L'Z' ? static_cast<wchar_t>(c - L'A' + L'a') : c; }

bool StartsWithFolder(const std::wstring& path, const std::wstring& folder) {
    if (path.size() < folder.size()) return false;
    for (size_t i = 0; i < folder.size(); ++i)
        if (AsciiLower(path[i]) != AsciiLower(folder[i])) return false;
    return true;
}

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
    return StartsWithFolder(out, gFolder) && out.size() > gFolder.size() && out.back() != L'\\';
}

}  // namespace orvantis
