// The update thread: manifest, first-install question, check, downloads, outcome.
#pragma once

#include <cstddef>
#include <string>

#include "launcher/win.h"
#include "transfer/http.h"

namespace orvantis {

// The largest manifest body accepted: 64 MiB less one byte.
inline constexpr size_t kManifestLimit = 67108863;

// Appends each chunk to body; refuses (false) once body holds more than limit bytes.
Sink BodySink(std::string& body, size_t limit);

// Thread entry; the argument is unused. Posts kMsgFinished to gWindow when done.
DWORD WINAPI Update(void*);

// The last line of a complete run that fetched `installed` files (0: already up to date).
std::wstring ClosingText(size_t installed);

// The last line of a run that could not install every file; error is the workers' last
// failure, possibly empty.
std::wstring PartialText(const std::wstring& error);

}  // namespace orvantis
