// The download progress line, refreshed at most four times a second.
#pragma once

#include <cstdint>
#include <string>

namespace orvantis {

struct Job;

// Any worker thread; drops calls that come within 250 ms of the last refresh.
void Progress(Job& job);

// The line and the bar position for a snapshot of the counters (no pacing).
std::wstring ProgressLine(uint64_t done, uint64_t bytesTotal, uint64_t elapsedMs, int32_t filesDone,
                          uint64_t files, int32_t* percent);

}  // namespace orvantis
