// A one-line progress bar on stderr, drawn only on a terminal and only once a step takes a while.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

namespace orvantis {

struct ProgressBar {
    bool enabled = false;
    bool drawn = false;
    std::string label;
    uint64_t total = 0;
    uint64_t done = 0;
    std::chrono::steady_clock::time_point start;
    std::chrono::steady_clock::time_point lastDraw;
};

// enabled: whether stderr is a terminal (the caller decides, so tests and pipes stay clean).
void ProgressBegin(ProgressBar& bar, const std::string& label, uint64_t total, bool enabled);
void ProgressAdd(ProgressBar& bar, uint64_t bytes);
// Clears the line if anything was drawn.
void ProgressEnd(ProgressBar& bar);

// "label [#####.....]  50%  1.0/2.0 MiB  3.0 MiB/s" for a bar of width cells.
std::string ProgressLine(const std::string& label, uint64_t done, uint64_t total, double seconds, int width);

}  // namespace orvantis
