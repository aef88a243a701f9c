#include "launcher/one_per_folder.h"

#include <vector>

#include "launcher/constants.h"
#include "launcher/extended_path.h"
#include "launcher/options.h"
#include "launcher/own_names.h"
#include "launcher/owned.h"
#include "launcher/text.h"
#include "manifest/sha256.h"

namespace orvantis {
namespace {

constexpr DWORD kPollMs = 50;

std::wstring FullPath(const std::wstring& path) {
    std::vector<wchar_t> buffer(path.size() + MAX_PATH);
    for (int tries = 0; tries < 3; ++tries) {
        DWORD n = GetFullPathNameW(path.c_str(), static_cast<DWORD>(buffer.size()), buffer.data(), nullptr);
        if (n == 0) return path;
        if (n < buffer.size()) return std::wstring(buffer.data(), n);
        buffer.resize(n + 1);
    }
    return path;
}

// "\\?\C:\x" and "\\?\UNC\server\share" name the same folders as "C:\x" and "\\server\share".
std::wstring WithoutExtendedPrefix(const std::wstring& path) {
    if (path.rfind(L"\\\\?\\UNC\\", 0) == 0) return L"\\\\" + path.substr(8);
    if (path.rfind(L"\\\\?\\", 0) == 0) return path.substr(4);
    return path;
}

// Per session: the window to bring forward can only be found in the same session anyway.
std::wstring MutexName(const std::wstring& folder) { return L"Local\\OrvantisKesh-" + FolderKey(folder); }

struct OwnerSearch {
    std::wstring key;
    HWND found = nullptr;
};

BOOL CALLBACK MatchOwner(HWND window, LPARAM param) {
    auto* search = reinterpret_cast<OwnerSearch*>(param);
    wchar_t name[64] = {};
    GetClassNameW(window, name, 64);
    if (wcscmp(name, kClassName) != 0) return TRUE;
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    if (pid == GetCurrentProcessId()) return TRUE;
    HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
    if (!process) return TRUE;
    std::vector<wchar_t> image(32768);
    DWORD size = static_cast<DWORD>(image.size());
    bool named = QueryFullProcessImageNameW(process, 0, image.data(), &size) != 0;
    CloseHandle(process);
    if (!named || FolderKey(FolderOf(std::wstring(image.data(), size))) != search->key) return TRUE;
    search->found = window;
    return FALSE;
}

}  // namespace

// The folder as the file system itself names it, once it is opened: long names for short ones,
// and the same path for every way to it. A folder that cannot be opened keeps its full path.
// Hashed, because a folder's path may be far longer than a kernel object's name may be.
std::wstring FolderKey(const std::wstring& folder) {
    std::wstring canonical = FullPath(WithoutExtendedPrefix(folder));
    OwnedHandle opened = OpenFile(ExtendedPath(canonical).c_str(), FILE_READ_ATTRIBUTES,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, OPEN_EXISTING,
                                  FILE_FLAG_BACKUP_SEMANTICS);
    std::wstring final = opened ? FinalPathOf(opened.h) : L"";
    if (!final.empty()) canonical = final;
    canonical = UpperCase(WithoutExtendedPrefix(canonical));
    if (!canonical.empty() && canonical.back() != L'\\') canonical += L'\\';
    std::string bytes = Narrow(canonical);
    Sha256 hash;
    hash.Add(bytes.data(), static_cast<uint32_t>(bytes.size()));
    return Wide(hash.Hex());
}

bool ClaimFolder(const std::wstring& folder) {
    // Kept open until the process ends: the name lives exactly as long as some launcher of the folder.
    HANDLE mutex = CreateMutexW(nullptr, FALSE, MutexName(folder).c_str());
    DWORD error = GetLastError();
    if (mutex) return error != ERROR_ALREADY_EXISTS;
    // A name that exists but may not be opened belongs to another launcher (another user's, run
    // in this session). Any other failure must not keep the player from the game.
    return error != ERROR_ACCESS_DENIED;
}

HWND FolderOwnerWindow(const std::wstring& folder) {
    OwnerSearch search;
    search.key = FolderKey(folder);
    EnumWindows(MatchOwner, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

bool ShowFolderOwner(const std::wstring& folder, DWORD waitMs) {
    ULONGLONG start = GetTickCount64();
    for (;;) {
        if (HWND owner = FolderOwnerWindow(folder)) {
            if (IsIconic(owner)) ShowWindow(owner, SW_RESTORE);
            SetForegroundWindow(owner);
            return true;
        }
        if (GetTickCount64() - start >= waitMs) return false;
        Sleep(kPollMs);
    }
}

}  // namespace orvantis
