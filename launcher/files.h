// What the launcher asks of a path in the game folder before it acts on it.
#pragma once

#include <string>

namespace orvantis {

// True when something, a file or a folder, is there under that name.
bool Exists(const std::wstring& path);

}  // namespace orvantis
