// Compares the verified manifest with the game folder and lists what must be downloaded.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "manifest/cache.h"
#include "manifest/entry.h"

namespace orvantis {

// An entry with the local path that SafePath gave for it.
using Needed = std::vector<std::pair<Entry, std::wstring>>;

// The entry's fields are usable and its path lies inside gFolder; local receives that path.
bool ValidEntry(const Entry& entry, std::wstring& local);

// Checks every entry in order, appending the files that must be downloaded to needed and
// refreshing cache for every file it read. False at the first invalid entry, before any
// file is read: the update must then be refused, and needed and cache dropped unsaved.
bool CheckLocalFiles(const std::vector<Entry>& entries, bool ultraPresent, Cache& cache, Needed& needed);

}  // namespace orvantis
