// ASCII letter case and hexadecimal digits, shared by the launcher and the publisher.
// Includes no Windows header.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace orvantis {

// Only 'A' to 'Z' change; every other unit, non-ASCII ones included, stays as it is.
char AsciiLower(char c);
wchar_t AsciiLower(wchar_t c);

// Equal when the texts differ only in the case of ASCII letters.
bool SameIgnoringAsciiCase(std::string_view a, std::string_view b);
bool SameIgnoringAsciiCase(std::wstring_view a, std::wstring_view b);

// True when text begins with prefix, ASCII letters compared without case.
bool StartsWithIgnoringAsciiCase(std::string_view text, std::string_view prefix);
bool StartsWithIgnoringAsciiCase(std::wstring_view text, std::wstring_view prefix);

// True when every byte is one of "0123456789abcdef" (also for ""): the digits of a digest.
bool IsLowerHex(std::string_view text);

// Hex digits of either case to bytes; false for an odd length or any other byte, and out is
// then left as it was. "" gives no bytes.
bool DecodeHex(std::string_view text, std::vector<uint8_t>& out);

}  // namespace orvantis
