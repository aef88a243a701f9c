// Which files travel together in pack objects.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "publisher/walk.h"

namespace orvantis {

// The launcher refuses larger packs.
constexpr uint64_t kPackLimit = 16777216;
// Files from this size on always travel alone: one request more costs little next to their bytes.
constexpr uint64_t kSmallFile = 1048576;
// The launcher cuts a pack only when at least this many of its files are needed.
constexpr size_t kMinPackFiles = 8;
// On average one path in this many ends a pack, so packs hold about this many files.
constexpr uint32_t kBoundaryEvery = 32;

// Groups of indices into files (byte-wise ascending by path), each group one pack, each index in
// ascending order. Every group has at least kMinPackFiles files and 1 to kPackLimit bytes, and
// holds either files under "DataUltra/" (in any letter case) only, or none.
std::vector<std::vector<size_t>> PlanPacks(const std::vector<SourceFile>& files);

}  // namespace orvantis
