#include "launcher/extended_path.h"

namespace orvantis {

std::wstring ExtendedPath(const std::wstring& path) {
    bool letter = path.size() >= 3 && ((path[0] >= L'A' && path[0] <= L'Z') || (path[0] >= L'a' && path[0] <= L'z'));
    if (letter && path[1] == L':' && path[2] == L'\\') return L"\\\\?\\" + path;
    // "\\server\share\...", but neither "\\?\..." nor the device form "\\.\...".
    if (path.size() > 2 && path[0] == L'\\' && path[1] == L'\\' && path[2] != L'?' && path[2] != L'.' &&
        path[2] != L'\\')
        return L"\\\\?\\UNC\\" + path.substr(2);
    return path;
}

}  // namespace orvantis
