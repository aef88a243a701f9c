#include "launcher/held_files.h"

#include <share.h>

#include "launcher/extended_path.h"

namespace orvantis {
namespace {

// A folder where a file is expected also gives access denied, and never lets go: such a failure
// is given its own error, so that nobody waits for it.
bool Failed(const std::wstring& path) {
    if (GetLastError() == ERROR_ACCESS_DENIED) {
        DWORD attributes = GetFileAttributesW(ExtendedPath(path).c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY))
            SetLastError(ERROR_DIRECTORY);
        else
            SetLastError(ERROR_ACCESS_DENIED);
    }
    return false;
}

}  // namespace

bool MayBeHeld(DWORD error) {
    return error == ERROR_SHARING_VIOLATION || error == ERROR_ACCESS_DENIED || error == ERROR_LOCK_VIOLATION;
}

// Access denied is also what a read-only file or a folder without rights gives, and those do
// not pass: they cost the wait once, and then fail as they always did.
bool WhileHeld(const std::function<bool()>& attempt) {
    for (uint32_t wait : kHeldWaits) {
        if (attempt()) return true;
        DWORD error = GetLastError();
        if (!MayBeHeld(error)) return false;
        Sleep(wait);
        SetLastError(error);
    }
    return attempt();
}

OwnedHandle OpenHeld(const std::wstring& path, DWORD access, DWORD share, DWORD disposition, DWORD flags) {
    OwnedHandle file;
    WhileHeld([&] {
        file = OpenFile(ExtendedPath(path).c_str(), access, share, disposition, flags);
        return file ? true : Failed(path);
    });
    return file;
}

bool MoveHeld(const std::wstring& from, const std::wstring& to) {
    const std::wstring source = ExtendedPath(from), target = ExtendedPath(to);
    return WhileHeld(
        [&] { return MoveFileExW(source.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING) != 0 || Failed(to); });
}

bool DeleteHeld(const std::wstring& path) {
    const std::wstring extended = ExtendedPath(path);
    return WhileHeld([&] { return DeleteFileW(extended.c_str()) != 0 || Failed(path); });
}

FILE* OpenStreamHeld(const std::wstring& path, const wchar_t* mode) {
    FILE* f = nullptr;
    WhileHeld([&] {
        f = _wfsopen(ExtendedPath(path).c_str(), mode, _SH_DENYNO);
        // The runtime keeps the platform's error of a failed open in _doserrno.
        if (f) return true;
        SetLastError(static_cast<DWORD>(_doserrno));
        return Failed(path);
    });
    return f;
}

}  // namespace orvantis
