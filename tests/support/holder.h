// Holds a file open without sharing for a while, as a real-time scanner does.
#pragma once

#include <atomic>
#include <string>
#include <thread>

#include "launcher/win.h"

namespace orvantis::test {

struct Holder {
    std::atomic<bool> held{false};  // the file was opened
    std::atomic<bool> done{false};  // and closed again
    std::thread thread;

    // Opens path at once (share mode 0) and closes it after holdMs. held tells whether it opened.
    static void Now(Holder& holder, const std::wstring& path, DWORD holdMs);
    // Waits up to waitMs for path to appear, then opens it as soon as it can and holds it for
    // holdMs: a scanner that looks at each new file.
    static void WhenItAppears(Holder& holder, const std::wstring& path, DWORD holdMs, DWORD waitMs);

    Holder() = default;
    ~Holder();
    Holder(const Holder&) = delete;
    Holder& operator=(const Holder&) = delete;
};

}  // namespace orvantis::test
