// The one way to tell the user something: the status line, the bar, the update log.
#pragma once

#include <cstdint>
#include <string>

namespace orvantis {

// Any thread. percent 0..100 moves the bar; negative leaves it.
void Status(const std::wstring& text, int32_t percent);

// Appends the line to "orvantis_update.log" unless it is progress noise or a repeat.
void Log(const std::wstring& line);

// Whether Log writes line, given the last line it wrote: not the scan progress, not a
// second download-progress line in a row, not an immediate repeat.
bool ShouldLog(const std::wstring& line, const std::wstring& last);

}  // namespace orvantis
