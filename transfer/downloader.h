#pragma once

#include "launcher/win.h"

namespace orvantis {

// Thread entry of a download worker; the argument is the Job.
DWORD WINAPI Downloader(void* job);

}  // namespace orvantis
