#include "tests/support/links.h"

#include "launcher/owned.h"
#include "launcher/text.h"
#include "tests/support/temp_folder.h"

namespace orvantis::test {
namespace {

using UnixName = char*(CDECL*)(const wchar_t*);

// Wine's own mapping of a Windows path to the Unix one; empty outside Wine.
std::string UnixPath(const std::wstring& path) {
    auto convert = reinterpret_cast<UnixName>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
    if (!convert) return "";
    char* name = convert(path.c_str());
    if (!name) return "";
    std::string out = name;
    HeapFree(GetProcessHeap(), 0, name);
    return out;
}

// A name that does not exist yet has no Unix name of its own: its folder's, and the name.
std::string UnixPathOfNew(const std::wstring& path) {
    size_t slash = path.rfind(L'\\');
    if (slash == std::wstring::npos) return "";
    std::string folder = UnixPath(path.substr(0, slash));
    return folder.empty() ? "" : folder + "/" + Narrow(path.substr(slash + 1));
}

// Runs a shell command under Wine and returns what it printed; Wine gives neither the exit
// code of a Unix program nor a wait for its end, so the command's answer comes through a file,
// which is only renamed into place once it is whole.
std::string Shell(const std::string& command) {
    wchar_t temp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, temp);
    static unsigned counter = 0;
    std::wstring answer = std::wstring(temp) + L"orvantis_shell_" + std::to_wstring(GetCurrentProcessId()) + L"_" +
                          std::to_wstring(counter++);
    std::string unixAnswer = UnixPathOfNew(answer);
    if (unixAnswer.empty()) return "";
    std::wstring line = Wide("/bin/sh -c \"(" + command + ") > '" + unixAnswer + ".new' 2>&1; mv '" + unixAnswer +
                             ".new' '" + unixAnswer + "'\"");
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info = {};
    if (!CreateProcessW(L"Z:\\bin\\sh", line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info))
        return "";
    CloseHandle(info.hThread);
    CloseHandle(info.hProcess);
    for (int waited = 0; waited < 1000 && GetFileAttributesW(answer.c_str()) == INVALID_FILE_ATTRIBUTES; ++waited)
        Sleep(10);
    std::string out = ReadFileBytes(answer);
    DeleteFileW(answer.c_str());
    return out;
}

std::string Quoted(const std::string& path) { return "'" + path + "'"; }

}  // namespace

bool IsLink(const std::wstring& path) {
    std::string unix = UnixPathOfNew(path);
    if (!unix.empty()) return Shell("test -L " + Quoted(unix) + " && echo link") == "link\n";
    DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

void RemoveLink(const std::wstring& path) {
    std::string unix = UnixPathOfNew(path);
    if (!unix.empty()) {
        Shell("test -L " + Quoted(unix) + " && rm -f " + Quoted(unix));
        return;
    }
    if (!RemoveDirectoryW(path.c_str())) DeleteFileW(path.c_str());
}

bool PlantLink(const std::wstring& link, const std::wstring& target) {
    std::string from = UnixPathOfNew(link), to = UnixPathOfNew(target);
    if (!from.empty() && !to.empty()) return Shell("ln -s " + Quoted(to) + " " + Quoted(from) + " && echo made") == "made\n";
    DWORD attributes = GetFileAttributesW(target.c_str());
    DWORD flags = attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)
                      ? SYMBOLIC_LINK_FLAG_DIRECTORY
                      : 0;
    return CreateSymbolicLinkW(link.c_str(), target.c_str(), flags | SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE) &&
           IsLink(link);
}

}  // namespace orvantis::test
