// UTF-8 <-> UTF-16 at the seams between manifest data and Windows paths.
#pragma once

#include <string>

namespace orvantis {

// Malformed input becomes U+FFFD; empty input or a failed conversion gives "".
std::wstring Wide(const std::string& text);
std::string Narrow(const std::wstring& text);

// Letters in upper case, one unit for one, the same in every locale: the form in which Windows
// compares file names without regard to case. The text itself when the platform cannot map it.
std::wstring UpperCase(const std::wstring& text);

}  // namespace orvantis
