#include "launcher/status.h"

#include <cstdio>

#include "launcher/constants.h"
#include "launcher/globals.h"
#include "launcher/held_files.h"
#include "launcher/own_names.h"
#include "launcher/text.h"

namespace orvantis {
namespace {

struct LogState {
    CRITICAL_SECTION lock;
    std::wstring last;
    // A log that stayed shut for a whole wait is read-only or in a folder without rights, not
    // held: the lines after it try once, so that a run does not wait again for every line.
    bool shut = false;
};

// Never freed: download workers may still log while the process exits after the window
// closed, and a destroyed lock or string under them would crash the exit.
LogState& TheLog() {
    static LogState* state = [] {
        LogState* s = new LogState();
        InitializeCriticalSection(&s->lock);
        return s;
    }();
    return *state;
}

bool StartsWith(const std::wstring& text, const wchar_t* prefix) {
    return text.compare(0, wcslen(prefix), prefix) == 0;
}

}  // namespace

bool ShouldLog(const std::wstring& line, const std::wstring& last) {
    if (StartsWith(line, L"Revisando")) return false;
    if (StartsWith(line, L"Descargando") && StartsWith(last, L"Descargando")) return false;
    return line != last;
}

void Log(const std::wstring& line) {
    LogState& log = TheLog();
    EnterCriticalSection(&log.lock);
    if (ShouldLog(line, log.last)) {
        log.last = line;
        FILE* f = OpenOwnFile(gFolder + kLogName, true, !log.shut);
        if (!log.shut) log.shut = f == nullptr && MayBeHeld(GetLastError());
        if (f) {
            log.shut = false;
            SYSTEMTIME t;
            GetLocalTime(&t);
            fprintf(f, "%04d-%02d-%02d %02d:%02d:%02d %s\r\n", t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute,
                    t.wSecond, Narrow(line).c_str());
            fclose(f);
        }
    }
    LeaveCriticalSection(&log.lock);
}

void Status(const std::wstring& text, int32_t percent) {
    Log(text);
    auto* copy = new std::wstring(text);
    // The window owns the copy once posted; a failed post means nobody will free it.
    if (!PostMessageW(gWindow, kMsgStatus, static_cast<WPARAM>(static_cast<INT_PTR>(percent)),
                      reinterpret_cast<LPARAM>(copy)))
        delete copy;
}

}  // namespace orvantis
