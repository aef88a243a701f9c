#include "launcher/files.h"

#include "launcher/extended_path.h"
#include "launcher/win.h"

namespace orvantis {

// Any attributes will do: a folder counts as well as a file, and a name that cannot be
// looked up counts as nothing there.
bool Exists(const std::wstring& path) { return GetFileAttributesW(ExtendedPath(path).c_str()) != INVALID_FILE_ATTRIBUTES; }

}  // namespace orvantis
