// Symbolic links for tests: under Wine a Unix symlink in the game folder is what a Windows link
// or junction is to the launcher.
#pragma once

#include <string>

namespace orvantis::test {

// Makes link point to target (both Windows paths; target need not exist). False where this
// platform cannot make one for a test (no privilege on Windows, or a Wine without ln).
bool PlantLink(const std::wstring& link, const std::wstring& target);

// Removes the link at path itself, never what it points to.
void RemoveLink(const std::wstring& path);

// Whether path is a link itself (not what it points to); false when it cannot tell.
bool IsLink(const std::wstring& path);

}  // namespace orvantis::test
