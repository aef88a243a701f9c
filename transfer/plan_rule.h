// The launcher's rule for turning the files it needs into requests. Includes no Windows header:
// the publisher forecasts a release's downloads with the very same rule.
#pragma once

#include <cstdint>
#include <vector>

#include "manifest/entry.h"

namespace orvantis {

// Appends to work one item per request for the needed entries (in manifest order): {i} for a
// stand-alone object, or the ascending indices of a pack's entries when the pack is fetched whole.
// Stand-alone items come first in needed's order, then packs in byte-wise order of their names.
// Returns the bytes those requests download.
uint64_t PlanWorkItems(const std::vector<const Entry*>& needed, std::vector<std::vector<uint64_t>>& work);

}  // namespace orvantis
