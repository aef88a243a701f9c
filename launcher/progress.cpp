#include "launcher/progress.h"

#include <charconv>

#include "launcher/status.h"
#include "launcher/win.h"
#include "update/job.h"

namespace orvantis {
namespace {

constexpr uint32_t kRefreshMs = 250;
constexpr double kMegabyte = 1048576.0;

// One decimal with a point, whatever the user's regional settings: to_chars never
// consults the locale, and it rounds like "%.1f".
std::wstring OneDecimal(double value) {
    char buffer[64];
    auto result = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, 1);
    return std::wstring(buffer, result.ptr);
}

}  // namespace

bool ProgressDue(ProgressPace& pace, uint32_t now) {
    // Unsigned subtraction keeps the test right across the 49.7-day wrap of the tick.
    if (pace.any.load(std::memory_order_relaxed) &&
        now - pace.last.load(std::memory_order_relaxed) < kRefreshMs)
        return false;
    // Two callers may both get here at once; two refreshes in a row do no harm.
    pace.last.store(now, std::memory_order_relaxed);
    pace.any.store(true, std::memory_order_relaxed);
    return true;
}

std::wstring ProgressLine(uint64_t done, uint64_t bytesTotal, uint64_t elapsedMs, int32_t filesDone,
                          uint64_t files, int32_t* percent) {
    double seconds = static_cast<double>(elapsedMs + 1) / 1000.0;
    double speed = static_cast<double>(done) / seconds / kMegabyte;
    *percent = bytesTotal != 0 ? static_cast<int32_t>(done * 100 / bytesTotal) : 100;

    std::wstring line = L"Descargando ";
    line += std::to_wstring(filesDone);
    line += L" de ";
    line += std::to_wstring(files);
    line += L" archivos (";
    line += OneDecimal(static_cast<double>(done) / kMegabyte) + L" MB";
    line += L" de ";
    line += OneDecimal(static_cast<double>(bytesTotal) / kMegabyte) + L" MB";
    line += L")";
    line += L" \u00B7 " + OneDecimal(speed) + L" MB/s";
    return line;
}

void Progress(Job& job) {
    static ProgressPace pace;
    if (!ProgressDue(pace, GetTickCount())) return;
    uint64_t done = static_cast<uint64_t>(job.bytesDone.load());
    int32_t percent = 0;
    std::wstring line = ProgressLine(done, job.bytesTotal, GetTickCount64() - job.started, job.filesDone.load(),
                                     job.files.size(), &percent);
    Status(line, percent);
}

}  // namespace orvantis
