// Files another program holds for a moment: a real-time scanner opens each new or renamed file,
// sometimes without sharing it, for tens to hundreds of milliseconds.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>

#include "launcher/owned.h"

namespace orvantis {

// Milliseconds between the tries of one operation on a held file: about 2 s in all.
inline constexpr uint32_t kHeldWaits[] = {10, 20, 40, 80, 150, 200, 250, 250, 250, 250, 250, 250};

// A sharing violation, access denied or a lock violation: what a held file gives.
bool MayBeHeld(DWORD error);

// Runs attempt until it succeeds or fails for another reason than a hold, waiting kHeldWaits
// between the tries. attempt returns true on success and leaves its error in GetLastError.
// True when it succeeded; on false GetLastError holds the last try's error.
bool WhileHeld(const std::function<bool()>& attempt);

// The platform calls, each tried again while the file is held.
OwnedHandle OpenHeld(const std::wstring& path, DWORD access, DWORD share, DWORD disposition,
                     DWORD flags = FILE_ATTRIBUTE_NORMAL);
bool MoveHeld(const std::wstring& from, const std::wstring& to);  // replaces to
bool DeleteHeld(const std::wstring& path);
// _wfsopen with the runtime's default sharing; null when it could not be opened.
FILE* OpenStreamHeld(const std::wstring& path, const wchar_t* mode);

}  // namespace orvantis
