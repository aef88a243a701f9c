// The update thread: manifest, first-install question, check, downloads, outcome.
#pragma once

#include <cstddef>
#include <string>

#include "launcher/win.h"

namespace orvantis {

// Thread entry; the argument is unused. Posts kMsgFinished to gWindow when done.
DWORD WINAPI Update(void*);

// The last line of a complete run that fetched `installed` files (0: already up to date).
std::wstring ClosingText(size_t installed);

// The last line of a run that could not install every file; error is the workers' last
// failure, possibly empty.
std::wstring PartialText(const std::wstring& error);

}  // namespace orvantis
