// The record of one download phase, shared by the driver, planning, workers and progress.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "launcher/win.h"
#include "manifest/entry.h"

namespace orvantis {

struct Job {
    std::vector<std::pair<Entry, std::wstring>> files;  // entry and its local path
    std::vector<std::vector<uint64_t>> work;             // indices into files
    std::vector<uint8_t> installed;                      // 1 once file i is in place
    std::atomic<int32_t> next{-1};
    std::atomic<int32_t> failed{0};
    std::atomic<int32_t> filesDone{0};
    std::atomic<int64_t> bytesDone{0};
    uint64_t bytesTotal = 0;
    uint64_t started = 0;
    std::wstring error;     // written only through SetError while workers run
    CRITICAL_SECTION lock;  // initialised and deleted by the driver around the worker phase
};

// Replaces job.error under job.lock, so two failing workers never interleave.
void SetError(Job& job, const std::wstring& text);

}  // namespace orvantis
