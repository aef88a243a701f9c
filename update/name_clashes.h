// Entries of one manifest that would fight over one file of the game folder.
#pragma once

#include <string>
#include <vector>

#include "manifest/entry.h"

namespace orvantis {

// The name Windows compares for a canonical path: every letter in upper case.
std::wstring NameKey(const std::wstring& canonical);

// True when two entries name one file as Windows compares names (the same path, paths that
// differ in letter case only, paths that canonicalise to one), or an entry names a file the
// launcher writes while it downloads another: an entry's ".part", or a pack's temporary file
// in the game folder. Entries that SafePath refuses are left to the check, which refuses them.
bool NamesClash(const std::vector<Entry>& entries);

}  // namespace orvantis
