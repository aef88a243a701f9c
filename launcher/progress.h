// The download progress line, refreshed at most four times a second.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

namespace orvantis {

struct Job;

// Any worker thread; drops calls that come within 250 ms of the last refresh.
void Progress(Job& job);

// When the last refresh happened, shared by every caller. No refresh yet while !any.
struct ProgressPace {
    std::atomic<uint32_t> last{0};
    std::atomic<bool> any{false};
};

// True when a refresh is due at tick now (and records it); 32-bit ticks may wrap.
bool ProgressDue(ProgressPace& pace, uint32_t now);

// The line and the bar position for a snapshot of the counters (no pacing).
// elapsedMs is the time since the job started; one is added so it is never 0.
std::wstring ProgressLine(uint64_t done, uint64_t bytesTotal, uint64_t elapsedMs, int32_t filesDone,
                          uint64_t files, int32_t* percent);

}  // namespace orvantis
