#include "launcher/text.h"

#include "launcher/win.h"

namespace orvantis {

// The lengths are passed explicitly so that embedded zero bytes convert too.
std::wstring Wide(const std::string& text) {
    std::wstring out;
    if (text.empty()) return out;
    int n = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    if (n <= 0) return out;
    out.resize(static_cast<size_t>(n));
    MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n);
    return out;
}

std::string Narrow(const std::wstring& text) {
    std::string out;
    if (text.empty()) return out;
    int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr,
                                nullptr);
    if (n <= 0) return out;
    out.resize(static_cast<size_t>(n));
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n, nullptr, nullptr);
    return out;
}

std::wstring UpperCase(const std::wstring& text) {
    if (text.empty()) return text;
    int n = LCMapStringEx(LOCALE_NAME_INVARIANT, LCMAP_UPPERCASE, text.c_str(), static_cast<int>(text.size()),
                          nullptr, 0, nullptr, nullptr, 0);
    if (n <= 0) return text;
    std::wstring out(static_cast<size_t>(n), L'\0');
    LCMapStringEx(LOCALE_NAME_INVARIANT, LCMAP_UPPERCASE, text.c_str(), static_cast<int>(text.size()), out.data(), n,
                  nullptr, nullptr, 0);
    return out;
}

}  // namespace orvantis
