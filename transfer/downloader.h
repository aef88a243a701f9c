// Download workers: up to 8 threads sharing one Job's work list.
#pragma once

#include <cstdint>

#include "launcher/win.h"

namespace orvantis {

struct Job;

// Thread entry of a download worker; the argument is the Job.
DWORD WINAPI Downloader(void* job);

// Starts min(8, work items) workers on job (whose lock must be initialised) and waits
// for every one that was really created. Returns how many ran.
int32_t RunDownloads(Job& job);

}  // namespace orvantis
