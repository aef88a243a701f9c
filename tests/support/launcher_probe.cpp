#include "tests/support/launcher_probe.h"

#include <ws2tcpip.h>

#include "launcher/options.h"

namespace orvantis::test {

std::wstring BuiltProgram(const std::wstring& relative) {
    std::wstring folder = FolderOf(ModulePath());
    for (int up = 0; up < 4 && !folder.empty(); ++up) {
        std::wstring path = folder + relative;
        if (GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES) return path;
        folder = FolderOf(folder.substr(0, folder.size() - 1));
    }
    return L"";
}

bool CopyInto(const std::wstring& from, const std::wstring& to) { return CopyFileW(from.c_str(), to.c_str(), FALSE); }

namespace {

bool Start(const std::wstring& exe, const std::wstring& args, const std::wstring& cwd, DWORD flags,
           Started* out) {
    std::wstring commandLine = L"\"" + exe + L"\" " + args;
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info = {};
    if (!CreateProcessW(exe.c_str(), commandLine.data(), nullptr, nullptr, FALSE, flags, nullptr,
                        cwd.empty() ? nullptr : cwd.c_str(), &startup, &info))
        return false;
    CloseHandle(info.hThread);
    out->process = OwnedHandle(info.hProcess);
    out->pid = info.dwProcessId;
    return true;
}

struct Search {
    DWORD pid;
    const wchar_t* windowClass;
    const wchar_t* caption;
    HWND found;
};

BOOL CALLBACK Match(HWND window, LPARAM param) {
    auto* search = reinterpret_cast<Search*>(param);
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    if (pid != search->pid || !IsWindowVisible(window)) return TRUE;
    wchar_t name[256] = {};
    GetClassNameW(window, name, 256);
    if (wcscmp(name, search->windowClass) != 0) return TRUE;
    if (search->caption) {
        // Read without a message: the program may be held by the debugger.
        wchar_t caption[256] = {};
        GetWindowTextW(window, caption, 256);
        if (wcscmp(caption, search->caption) != 0) return TRUE;
    }
    search->found = window;
    return FALSE;
}

}  // namespace

bool StartProgram(const std::wstring& exe, const std::wstring& args, const std::wstring& cwd, Started* out) {
    return Start(exe, args, cwd, 0, out);
}

HWND FindProcessWindow(DWORD pid, const wchar_t* windowClass, const wchar_t* caption) {
    Search search{pid, windowClass, caption, nullptr};
    EnumWindows(Match, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

HWND WaitForProcessWindow(DWORD pid, const wchar_t* windowClass, const wchar_t* caption, DWORD timeoutMs) {
    HWND found = nullptr;
    WaitUntil([&] { return (found = FindProcessWindow(pid, windowClass, caption)) != nullptr; }, timeoutMs);
    return found;
}

bool StartHeldAtFirstThread(const std::wstring& exe, const std::wstring& args, const std::wstring& cwd,
                            const wchar_t* windowClass, const std::function<void(HWND)>& inspect, Started* out,
                            DWORD timeoutMs) {
    if (!Start(exe, args, cwd, DEBUG_ONLY_THIS_PROCESS, out)) return false;
    DebugSetProcessKillOnExit(FALSE);
    ULONGLONG end = GetTickCount64() + timeoutMs;
    bool held = false;
    while (GetTickCount64() < end) {
        DEBUG_EVENT event = {};
        if (!WaitForDebugEvent(&event, 100)) continue;
        DWORD reply = DBG_CONTINUE;
        switch (event.dwDebugEventCode) {
            case CREATE_PROCESS_DEBUG_EVENT:
                if (event.u.CreateProcessInfo.hFile) CloseHandle(event.u.CreateProcessInfo.hFile);
                break;
            case LOAD_DLL_DEBUG_EVENT:
                if (event.u.LoadDll.hFile) CloseHandle(event.u.LoadDll.hFile);
                break;
            case EXCEPTION_DEBUG_EVENT:
                if (event.u.Exception.ExceptionRecord.ExceptionCode != EXCEPTION_BREAKPOINT)
                    reply = DBG_EXCEPTION_NOT_HANDLED;
                break;
            case CREATE_THREAD_DEBUG_EVENT:
                if (HWND window = FindProcessWindow(out->pid, windowClass)) {
                    inspect(window);
                    held = true;
                }
                break;
            case EXIT_PROCESS_DEBUG_EVENT:
                end = 0;
                break;
        }
        ContinueDebugEvent(event.dwProcessId, event.dwThreadId, reply);
        if (held || end == 0) break;
    }
    DebugActiveProcessStop(out->pid);
    return held;
}

std::wstring TextOf(HWND window) {
    DWORD_PTR length = 0;
    if (!SendMessageTimeoutW(window, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, 5000, &length)) return L"";
    std::wstring text(length + 1, L'\0');
    DWORD_PTR copied = 0;
    if (!SendMessageTimeoutW(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()),
                             SMTO_ABORTIFHUNG, 5000, &copied))
        return L"";
    text.resize(copied);
    return text;
}

bool WaitUntil(const std::function<bool()>& done, DWORD timeoutMs) {
    ULONGLONG end = GetTickCount64() + timeoutMs;
    for (;;) {
        if (done()) return true;
        if (GetTickCount64() >= end) return false;
        Sleep(50);
    }
}

bool WaitForExit(HANDLE process, DWORD timeoutMs, DWORD* code) {
    if (WaitForSingleObject(process, timeoutMs) != WAIT_OBJECT_0) return false;
    return GetExitCodeProcess(process, code) != 0;
}

namespace {

SOCKET LoopbackSocket(uint16_t* port) {
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (s == INVALID_SOCKET) return s;
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int size = sizeof address;
    if (bind(s, reinterpret_cast<sockaddr*>(&address), size) != 0 ||
        getsockname(s, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
        closesocket(s);
        return INVALID_SOCKET;
    }
    *port = ntohs(address.sin_port);
    return s;
}

}  // namespace

SilentServer::SilentServer() {
    listener = LoopbackSocket(&port);
    if (listener == INVALID_SOCKET || listen(listener, 16) != 0) return;
    acceptor = std::thread([this] {
        for (;;) {
            SOCKET s = accept(listener, nullptr, nullptr);
            if (s == INVALID_SOCKET) return;  // the listener was closed
            std::lock_guard<std::mutex> hold(lock);
            connections.push_back(s);
            ++accepted;
        }
    });
}

SilentServer::~SilentServer() {
    if (listener != INVALID_SOCKET) closesocket(listener);
    if (acceptor.joinable()) acceptor.join();
    for (SOCKET s : connections) closesocket(s);
    WSACleanup();
}

uint16_t RefusedPort() {
    uint16_t port = 0;
    SOCKET s = LoopbackSocket(&port);
    if (s != INVALID_SOCKET) closesocket(s);
    WSACleanup();
    return port;
}

}  // namespace orvantis::test
