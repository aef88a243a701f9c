// Runs a program and reports its peak working set, read from outside the process while it runs.
// Under Wine the figure comes from the Unix process's high-water mark, which exists only while
// the process does, so it is sampled every 5 ms and the last good reading is kept.
// Usage: peak_memory.exe FOLDER PROGRAM [ARGUMENTS...]   (FOLDER: the program's working folder)
// Prints "peak_working_set=<bytes> peak_private=<bytes> samples=<n> exit=<code>" and exits with the
// program's exit code.
#include "floor_common.h"

#include <psapi.h>


namespace orvantis::bench {
namespace {

std::wstring Quoted(const std::wstring& s) { return L"\"" + s + L"\""; }

int Run(int argc, wchar_t** argv) {
    if (argc < 3) {
        fwprintf(stderr, L"usage: peak_memory FOLDER PROGRAM [ARGUMENTS...]\n");
        return 2;
    }
    std::wstring command = Quoted(argv[2]);
    for (int i = 3; i < argc; ++i) command += L" " + Quoted(argv[i]);
    STARTUPINFOW si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi = {};
    if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, argv[1], &si, &pi)) {
        fwprintf(stderr, L"cannot start %ls (error %lu)\n", argv[2], GetLastError());
        return 2;
    }
    SIZE_T peakSet = 0;
    SIZE_T peakPrivate = 0;
    unsigned samples = 0;
    for (;;) {
        PROCESS_MEMORY_COUNTERS pmc = {};
        pmc.cb = sizeof pmc;
        if (GetProcessMemoryInfo(pi.hProcess, &pmc, sizeof pmc)) {
            if (pmc.PeakWorkingSetSize > peakSet) peakSet = pmc.PeakWorkingSetSize;
            if (pmc.PeakPagefileUsage > peakPrivate) peakPrivate = pmc.PeakPagefileUsage;
            ++samples;
        }
        if (WaitForSingleObject(pi.hProcess, 5) == WAIT_OBJECT_0) break;
    }
    DWORD code = 0;
    GetExitCodeProcess(pi.hProcess, &code);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    printf("peak_working_set=%llu peak_private=%llu samples=%u exit=%lu\n", static_cast<unsigned long long>(peakSet),
           static_cast<unsigned long long>(peakPrivate), samples, code);
    return static_cast<int>(code);
}

}  // namespace
}  // namespace orvantis::bench

int wmain(int argc, wchar_t** argv) { return orvantis::bench::Run(argc, argv); }
