// The extended-length form of a path, which Windows takes past 260 characters (folders past 248)
// without the system-wide long-path opt-in.
#pragma once

#include <string>

namespace orvantis {

// "\\?\" + a canonical absolute drive path, or "\\?\UNC\server\share\..." for a network path;
// anything else (already extended, a device path, a relative path) comes back as it is.
// REQUIRES: path is canonical (SafePath's result, or gFolder and a fixed name): the form turns
// the platform's own normalisation off, so "..", "." or a trailing dot would be taken literally.
std::wstring ExtendedPath(const std::wstring& path);

}  // namespace orvantis
