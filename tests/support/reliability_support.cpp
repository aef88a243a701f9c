#include "tests/support/reliability_support.h"

#include <algorithm>

#include "launcher/text.h"
#include "tests/support/origin.h"
#include "tests/support/signing.h"
#include "tests/support/temp_folder.h"

namespace orvantis::reliability {

std::wstring BuiltLauncher() {
    // Test executables live in <build>\tests, the launcher in <build>.
    wchar_t self[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring path = self;
    for (int up = 0; up < 2; ++up) {
        size_t slash = path.find_last_of(L'\\');
        if (slash == std::wstring::npos) return L"";
        path.resize(slash);
    }
    path += L"\\OrvantisKesh.exe";
    return test::Exists(path) ? path : L"";
}

OwnedHandle StartLauncher(const std::wstring& folder, const std::wstring& args) {
    std::wstring exe = folder + L"OrvantisKesh.exe";
    std::wstring built = BuiltLauncher();
    if (built.empty() || !CopyFileW(built.c_str(), exe.c_str(), FALSE)) return OwnedHandle();
    std::wstring command = L"\"" + exe + L"\" " + args;
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    if (!CreateProcessW(exe.c_str(), command.data(), nullptr, nullptr, FALSE, 0, nullptr, folder.c_str(), &startup,
                        &info))
        return OwnedHandle();
    CloseHandle(info.hThread);
    return OwnedHandle(info.hProcess);
}

Outcome Finish(OwnedHandle& process, const std::wstring& folder, DWORD timeoutMs) {
    Outcome out;
    if (!process) return out;
    out.exited = WaitForSingleObject(process.h, timeoutMs) == WAIT_OBJECT_0;
    if (!out.exited) {
        TerminateProcess(process.h, 99);
        WaitForSingleObject(process.h, 10000);
    }
    GetExitCodeProcess(process.h, &out.exitCode);
    process.Reset();
    bool ok = false;
    out.result = test::ReadFileBytes(folder + L"orvantis_verify.result", &ok);
    if (!ok) out.result = "(none)";
    out.log = test::ReadFileBytes(folder + L"orvantis_update.log");
    std::string log = out.log;
    while (!log.empty() && (log.back() == '\n' || log.back() == '\r')) log.pop_back();
    size_t start = log.rfind('\n');
    std::string last = log.substr(start == std::string::npos ? 0 : start + 1);
    out.lastStatus = last.size() > 20 ? last.substr(20) : last;  // after "YYYY-MM-DD HH:MM:SS "
    return out;
}

Outcome VerifyRun(const std::wstring& folder, const std::wstring& extraArgs, DWORD timeoutMs) {
    DeleteFileW((folder + L"orvantis_verify.result").c_str());
    OwnedHandle process = StartLauncher(folder, L"--yes --verify-only " + extraArgs);
    return Finish(process, folder, timeoutMs);
}

namespace {

void Walk(const std::wstring& base, const std::wstring& relative, std::map<std::wstring, std::string>& out,
          std::vector<std::wstring>* leftovers) {
    WIN32_FIND_DATAW data;
    OwnedFind find = FindFirst((base + relative + L"*").c_str(), &data);
    if (!find) return;
    do {
        std::wstring name = data.cFileName;
        if (name == L"." || name == L"..") continue;
        if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            Walk(base, relative + name + L"\\", out, leftovers);
        } else if (leftovers) {
            bool part = name.size() >= 5 && name.compare(name.size() - 5, 5, L".part") == 0;
            if (part || name.rfind(L".orvantis_pack_", 0) == 0) leftovers->push_back(relative + name);
        } else {
            out[relative + name] = test::ReadFileBytes(base + relative + name);
        }
    } while (FindNextFileW(find.h, &data));
}

}  // namespace

std::map<std::wstring, std::string> ReadTree(const std::wstring& folder) {
    std::map<std::wstring, std::string> out;
    Walk(folder, L"", out, nullptr);
    return out;
}

std::vector<std::wstring> Leftovers(const std::wstring& folder) {
    std::map<std::wstring, std::string> unused;
    std::vector<std::wstring> out;
    Walk(folder, L"", unused, &out);
    return out;
}

bool IsLauncherFile(const std::wstring& relative) {
    for (const wchar_t* name : {L"OrvantisKesh.exe", L"orvantis_update.log", L"orvantis_update.cache",
                                L"orvantis_verify.result", L"config.ini"})
        if (_wcsicmp(relative.c_str(), name) == 0) return true;
    return false;
}

std::wstring LocalName(const std::string& manifestPath) {
    std::wstring local = Wide(manifestPath);
    std::replace(local.begin(), local.end(), L'/', L'\\');
    return local;
}

Release MakeRelease(const std::vector<std::pair<std::string, std::string>>& files,
                    const std::vector<std::pair<std::string, std::string>>& packed) {
    Release release;
    for (const auto& [path, content] : files) {
        release.entries.push_back(test::FileEntry(path, content));
        release.objects.push_back(content);
        release.content[path] = content;
    }
    if (!packed.empty()) {
        std::string pack;
        for (const auto& [path, content] : packed) pack += content;
        release.packSha = test::HexSha256(pack);
        uint64_t offset = 0;
        for (const auto& [path, content] : packed) {
            Entry e = test::FileEntry(path, content);
            e.pack = release.packSha;
            e.offset = offset;
            e.packSize = pack.size();
            offset += content.size();
            release.entries.push_back(e);
            release.content[path] = content;
            release.objects.push_back(content);  // the stand-alone form, for when few are needed
        }
        release.objects.push_back(pack);
    }
    release.manifest = test::ManifestText(release.entries);
    return release;
}

std::string Bytes(size_t size, uint32_t seed) {
    std::string out(size, '\0');
    uint32_t x = seed * 2654435761u + 12345;
    for (size_t i = 0; i < size; ++i) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        out[i] = static_cast<char>(x);
    }
    return out;
}

}  // namespace orvantis::reliability
