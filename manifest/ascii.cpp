#include "manifest/ascii.h"

#include <utility>

namespace orvantis {
namespace {

// The C library's case-insensitive comparisons follow the locale; these rules must not,
// since a name means the same file whatever the player's settings.
template <typename Char>
Char Lower(Char c) {
    return c >= Char('A') && c <= Char('Z') ? Char(c - Char('A') + Char('a')) : c;
}

template <typename Char>
bool Same(std::basic_string_view<Char> a, std::basic_string_view<Char> b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (Lower(a[i]) != Lower(b[i])) return false;
    return true;
}

int Nibble(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

}  // namespace

char AsciiLower(char c) { return Lower(c); }
wchar_t AsciiLower(wchar_t c) { return Lower(c); }

bool SameIgnoringAsciiCase(std::string_view a, std::string_view b) { return Same(a, b); }
bool SameIgnoringAsciiCase(std::wstring_view a, std::wstring_view b) { return Same(a, b); }

bool StartsWithIgnoringAsciiCase(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() && Same(text.substr(0, prefix.size()), prefix);
}

bool StartsWithIgnoringAsciiCase(std::wstring_view text, std::wstring_view prefix) {
    return text.size() >= prefix.size() && Same(text.substr(0, prefix.size()), prefix);
}

bool IsLowerHex(std::string_view text) {
    for (char c : text)
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
    return true;
}

bool DecodeHex(std::string_view text, std::vector<uint8_t>& out) {
    if (text.size() % 2 != 0) return false;
    std::vector<uint8_t> bytes;
    bytes.reserve(text.size() / 2);
    for (size_t i = 0; i < text.size(); i += 2) {
        int high = Nibble(text[i]);
        int low = Nibble(text[i + 1]);
        if (high < 0 || low < 0) return false;
        bytes.push_back(static_cast<uint8_t>(high << 4 | low));
    }
    out = std::move(bytes);
    return true;
}

}  // namespace orvantis
