// Maps a manifest path to an absolute path that is guaranteed to lie inside gFolder.
#pragma once

#include <string>

namespace orvantis {

// True with out = the canonical absolute path; on false, out must not be used.
bool SafePath(const std::string& path, std::wstring& out);

}  // namespace orvantis
