// Download workers: up to 8 threads sharing one Job's work list.
#pragma once

#include <cstdint>
#include <string>

#include "launcher/win.h"

namespace orvantis {

struct Job;

// Thread entry of a download worker; the argument is the Job.
DWORD WINAPI Downloader(void* job);

// Starts min(8, work items) workers on job (whose lock must be initialised) and waits
// for every one that was really created. Returns how many ran.
int32_t RunDownloads(Job& job);

// Whether name (a file name in the game folder) is one this launcher gives a pack while it
// downloads or cuts it: ".orvantis_pack_", 64 lower-case hex digits, maybe ".part".
bool IsPackName(const std::wstring& name);

// Removes what an ended run left under such names in the game folder; nothing else. Only one
// launcher runs in a folder, so none of them is in use.
void RemovePackLeftovers();

}  // namespace orvantis
