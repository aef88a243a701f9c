#include "launcher/options.h"

#include <cstdint>
#include <cstdlib>
#include <cwchar>

#include "launcher/win.h"

#include <shellapi.h>

namespace orvantis {

Options ReadOptions(const std::vector<std::wstring>& args, const Endpoint& site, const Endpoint& files) {
    Options options;
    options.site = site;
    options.files = files;
    size_t count = args.size();
    for (size_t i = 1; i < count; ++i) {
        if (args[i] == L"--yes") options.assumeYes = true;
        if (args[i] == L"--verify-only") options.verifyOnly = true;
    }
    // The value after "--server" or "--files" is not consumed: it is examined as an option
    // in its own turn, so "--files --yes" both names a host and sets assumeYes.
    for (size_t i = 1; i + 1 < count; ++i) {
        const std::wstring& value = args[i + 1];
        if (args[i] == L"--server") {
            options.site = ParseEndpoint(value);
            options.files = options.site;
        } else if (args[i] == L"--yes") {
            options.assumeYes = true;
        } else if (args[i] == L"--files") {
            options.files = ParseEndpoint(value);
        }
    }
    return options;
}

Endpoint ParseEndpoint(const std::wstring& value) {
    Endpoint endpoint;
    endpoint.secure = false;
    size_t colon = value.find(L':');
    endpoint.host = value.substr(0, colon);
    // Only the low 16 bits of the number survive: "65616" wraps to 80, text that is not a number gives 0.
    endpoint.port = colon == std::wstring::npos ? 80 : static_cast<uint16_t>(_wtoi(value.c_str() + colon + 1));
    return endpoint;
}

std::wstring FolderOf(const std::wstring& path) {
    size_t slash = path.rfind(L'\\');
    return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash + 1);
}

// A path cut at a fixed length could end inside a parent folder's name, and the game would then be
// installed into the wrong folder; so the buffer grows until the whole path fits.
std::wstring ModulePath(size_t firstSize) {
    std::wstring buffer(firstSize ? firstSize : 1, L'\0');
    while (buffer.size() <= 65536) {
        DWORD n = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (n == 0) return std::wstring();
        if (n < buffer.size()) {
            buffer.resize(n);
            return buffer;
        }
        buffer.resize(buffer.size() * 2);
    }
    return std::wstring();
}

std::vector<std::wstring> CommandLineArgs() {
    std::vector<std::wstring> args;
    int count = 0;
    wchar_t** list = CommandLineToArgvW(GetCommandLineW(), &count);
    if (!list) return args;
    for (int i = 0; i < count; ++i) args.emplace_back(list[i]);
    LocalFree(list);
    return args;
}

}  // namespace orvantis
