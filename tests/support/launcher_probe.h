// Drives the built OrvantisKesh.exe from a test: starts it, finds its windows, answers its boxes.
#pragma once

#include <winsock2.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "launcher/owned.h"

namespace orvantis::test {

// A program of this build (L"OrvantisKesh.exe", L"tools\\fake_game.exe"), found from the
// running test program's folder upwards; empty when it is not there.
std::wstring BuiltProgram(const std::wstring& relative);

bool CopyInto(const std::wstring& from, const std::wstring& to);

struct Started {
    OwnedHandle process;
    DWORD pid = 0;
};

// Starts exe with "exe" args as its command line, in the working folder cwd.
bool StartProgram(const std::wstring& exe, const std::wstring& args, const std::wstring& cwd, Started* out);

// Starts exe under the debug API and holds it at the first thread it creates once its main
// window (class, visible) exists; there inspect(window) runs while the whole program stands
// still, and the program is then let go. False when that point was not reached in time.
bool StartHeldAtFirstThread(const std::wstring& exe, const std::wstring& args, const std::wstring& cwd,
                            const wchar_t* windowClass, const std::function<void(HWND)>& inspect, Started* out,
                            DWORD timeoutMs);

// The visible top-level window of process pid with this class (and caption, when given).
HWND FindProcessWindow(DWORD pid, const wchar_t* windowClass, const wchar_t* caption = nullptr);
HWND WaitForProcessWindow(DWORD pid, const wchar_t* windowClass, const wchar_t* caption, DWORD timeoutMs);

// Text of a window of another process, read through WM_GETTEXT.
std::wstring TextOf(HWND window);

bool WaitUntil(const std::function<bool()>& done, DWORD timeoutMs);
// The exit code, or false when the process still runs after timeoutMs.
bool WaitForExit(HANDLE process, DWORD timeoutMs, DWORD* code);

// Listens on 127.0.0.1 and accepts every connection without ever answering, so an
// HTTP client that reaches it waits for its reply until the server is destroyed.
struct SilentServer {
    SOCKET listener = INVALID_SOCKET;
    uint16_t port = 0;
    std::atomic<int> accepted{0};
    std::mutex lock;
    std::vector<SOCKET> connections;
    std::thread acceptor;

    SilentServer();
    ~SilentServer();
    SilentServer(const SilentServer&) = delete;
    SilentServer& operator=(const SilentServer&) = delete;
};

// A loopback port on which nothing listens, so a connection is refused at once.
uint16_t RefusedPort();

}  // namespace orvantis::test
