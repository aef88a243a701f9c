#include "launcher/own_names.h"

#include <atomic>
#include <fcntl.h>
#include <io.h>
#include <vector>

#include "launcher/extended_path.h"
#include "launcher/held_files.h"

namespace orvantis {
namespace {

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
// The sharing of the runtime's _wfopen, which these files were always opened with.
constexpr DWORD kStreamShare = FILE_SHARE_READ | FILE_SHARE_WRITE;

// An empty file of ours beside path, under a name nobody else uses.
std::wstring FreshBeside(const std::wstring& path, OwnedHandle* out) {
    static std::atomic<unsigned> counter{0};
    for (int tries = 0; tries < 16; ++tries) {
        std::wstring name = path + L"~" + std::to_wstring(GetCurrentProcessId()) + L"." + std::to_wstring(counter++);
        *out = OpenFile(ExtendedPath(name).c_str(), GENERIC_WRITE, 0, CREATE_NEW);
        if (*out) return name;
        if (GetLastError() != ERROR_FILE_EXISTS) break;
    }
    return L"";
}

FILE* AsStream(OwnedHandle file, bool append) {
    int fd = _open_osfhandle(reinterpret_cast<intptr_t>(file.h), _O_BINARY | (append ? _O_APPEND : 0));
    if (fd == -1) return nullptr;
    file.Release();
    FILE* f = _wfdopen(fd, append ? L"ab" : L"wb");
    if (!f) _close(fd);
    return f;
}

}  // namespace

// The name is taken over by renaming a fresh empty file onto it, and that file is then deleted:
// a rename replaces a link at its target name and never follows it, on every platform, while a
// delete or an attribute change may act on what the link points to (Wine deletes a file link's
// target). Only a read-only file that is no link (a link's attributes are its own) has its
// attribute cleared, since Windows will not replace it.
bool ClearName(const std::wstring& path) {
    DWORD attributes = GetFileAttributesW(ExtendedPath(path).c_str());
    bool known = attributes != INVALID_FILE_ATTRIBUTES;
    // Someone's folder is never ours to remove. Nor is a folder link or junction removed: no
    // call removes one as a link everywhere (Wine removes the folder it leads to, if empty), and
    // the launcher never makes folders at these names; the name is refused instead.
    if (known && (attributes & FILE_ATTRIBUTE_DIRECTORY)) return false;
    // Unknown attributes may still hide a link that points nowhere: the rename takes that too.
    OwnedHandle fresh;
    std::wstring temporary = FreshBeside(path, &fresh);
    if (temporary.empty()) return false;
    fresh.Reset();
    bool taken = MoveFileExW(ExtendedPath(temporary).c_str(), ExtendedPath(path).c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
    if (!taken && known && (attributes & FILE_ATTRIBUTE_READONLY) && !(attributes & FILE_ATTRIBUTE_REPARSE_POINT))
        SetFileAttributesW(ExtendedPath(path).c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
    if (!taken) taken = MoveHeld(temporary, path);
    if (!taken) {
        DeleteFileW(ExtendedPath(temporary).c_str());
        return false;
    }
    return DeleteHeld(path);
}

// CREATE_NEW never opens what is already at the name, a link included: what is there is
// removed first, and a name that cannot be cleared is not written.
OwnedHandle CreateFresh(const std::wstring& path, DWORD access, DWORD share) {
    OwnedHandle file = OpenHeld(path, access, share, CREATE_NEW);
    if (file || GetLastError() != ERROR_FILE_EXISTS) return file;
    if (!ClearName(path)) return OwnedHandle();
    return OpenHeld(path, access, share, CREATE_NEW);
}

std::wstring FinalPathOf(HANDLE h) {
    std::vector<wchar_t> buffer(MAX_PATH);
    for (int tries = 0; tries < 3; ++tries) {
        DWORD n = GetFinalPathNameByHandleW(h, buffer.data(), static_cast<DWORD>(buffer.size()),
                                            FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
        if (n == 0) return L"";
        if (n < buffer.size()) return std::wstring(buffer.data(), n);
        buffer.resize(n + 1);
    }
    return L"";
}

// The file's final path (every link resolved) must be its folder's final path and its own name.
bool AtOwnName(HANDLE h, const std::wstring& path) {
    size_t slash = path.rfind(L'\\');
    if (slash == std::wstring::npos) return true;
    // A drive's root keeps its backslash: "\\?\C:" would name the volume, not its folder.
    std::wstring parent = path.substr(0, slash > 0 && path[slash - 1] == L':' ? slash + 1 : slash);
    OwnedHandle folder = OpenFile(ExtendedPath(parent).c_str(), FILE_READ_ATTRIBUTES, kShareAll, OPEN_EXISTING,
                                  FILE_FLAG_BACKUP_SEMANTICS);
    std::wstring mine = FinalPathOf(h);
    std::wstring theirs = folder ? FinalPathOf(folder.h) : L"";
    if (mine.empty() || theirs.empty()) return true;
    if (theirs.back() != L'\\') theirs += L'\\';
    theirs += path.substr(slash + 1);
    return CompareStringOrdinal(mine.c_str(), static_cast<int>(mine.size()), theirs.c_str(),
                                static_cast<int>(theirs.size()), TRUE) == CSTR_EQUAL;
}

// Opened without truncation first, so that nothing a link points to is cut short before the
// check; truncated only once the file is known to be its own.
FILE* OpenOwnFile(const std::wstring& path, bool append, bool wait) {
    auto open = [&](DWORD disposition) {
        return wait ? OpenHeld(path, GENERIC_WRITE, kStreamShare, disposition)
                    : OpenFile(ExtendedPath(path).c_str(), GENERIC_WRITE, kStreamShare, disposition);
    };
    OwnedHandle file = open(OPEN_EXISTING);
    if (file && !AtOwnName(file.h, path)) {
        file.Reset();
        if (!ClearName(path)) return nullptr;
    } else if (!file && GetLastError() != ERROR_FILE_NOT_FOUND) {
        return nullptr;
    }
    if (!file) {
        file = open(CREATE_NEW);
        if (!file && GetLastError() == ERROR_FILE_EXISTS && ClearName(path)) file = open(CREATE_NEW);
        if (!file) return nullptr;
    }
    if (!append && !SetEndOfFile(file.h)) return nullptr;
    return AsStream(std::move(file), append);
}

}  // namespace orvantis
