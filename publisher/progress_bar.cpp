#include "publisher/progress_bar.h"

#include <cstdio>

namespace orvantis {
namespace {

constexpr auto kQuietStart = std::chrono::milliseconds(500);  // short runs print no bar at all
constexpr auto kRedraw = std::chrono::milliseconds(100);
constexpr int kBarCells = 30;

}  // namespace

void ProgressBegin(ProgressBar& bar, const std::string& label, uint64_t total, bool enabled) {
    bar.enabled = enabled;
    bar.drawn = false;
    bar.label = label;
    bar.total = total;
    bar.done = 0;
    bar.start = bar.lastDraw = std::chrono::steady_clock::now();
}

void ProgressAdd(ProgressBar& bar, uint64_t bytes) {
    bar.done += bytes;
    if (!bar.enabled) return;
    auto now = std::chrono::steady_clock::now();
    if (now - bar.start < kQuietStart || now - bar.lastDraw < kRedraw) return;
    bar.lastDraw = now;
    bar.drawn = true;
    double seconds = std::chrono::duration<double>(now - bar.start).count();
    fprintf(stderr, "\r%s\033[K", ProgressLine(bar.label, bar.done, bar.total, seconds, kBarCells).c_str());
    fflush(stderr);
}

void ProgressEnd(ProgressBar& bar) {
    if (bar.drawn) {
        fprintf(stderr, "\r\033[K");
        fflush(stderr);
    }
    bar.drawn = false;
}

std::string ProgressLine(const std::string& label, uint64_t done, uint64_t total, double seconds, int width) {
    if (done > total) done = total;
    double share = total ? double(done) / double(total) : 1.0;
    int filled = int(share * width);
    std::string line = label + " [" + std::string(size_t(filled), '#') + std::string(size_t(width - filled), '.') + "]";
    char tail[96];
    const double mib = 1048576.0;
    double rate = seconds > 0 ? double(done) / mib / seconds : 0.0;
    snprintf(tail, sizeof tail, " %3d%%  %.1f/%.1f MiB  %.1f MiB/s", int(share * 100), double(done) / mib,
             double(total) / mib, rate);
    return line + tail;
}

}  // namespace orvantis
