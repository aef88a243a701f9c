// Times the launcher's own functions, one by one, on the benchmark's folder and manifest: the
// pieces of a start with nothing to do, measured inside one process so that Wine's start-up and
// window do not blur them. It calls the launcher's code as it is and changes nothing in it.
// Usage: launcher_phases.exe GAME_FOLDER MANIFEST SIGNATURE_HEX_FILE [RUNS]
// Prints one line per phase: the name and the median milliseconds of the runs.
#include <algorithm>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "launcher/constants.h"
#include "launcher/globals.h"
#include "launcher/win.h"
#include "launcher/status.h"
#include "manifest/cache.h"
#include "manifest/json.h"
#include "manifest/signature.h"
#include "update/local_check.h"
#include "update/name_clashes.h"

namespace orvantis {
namespace {

double Now() {
    LARGE_INTEGER f, c;
    QueryPerformanceFrequency(&f);
    QueryPerformanceCounter(&c);
    return static_cast<double>(c.QuadPart) / static_cast<double>(f.QuadPart);
}

bool ReadAll(const wchar_t* path, std::string& out) {
    FILE* f = _wfopen(path, L"rb");
    if (!f) return false;
    char buffer[65536];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, f)) > 0) out.append(buffer, n);
    fclose(f);
    return true;
}

// The launcher's window runs on its own thread and takes every status line as it comes; the
// check posts one every 200 entries. Without a reader the lines would pile up in this thread's
// queue, and each post would cost more the longer the queue grew.
LRESULT CALLBACK TakeStatus(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == kMsgStatus) {
        delete reinterpret_cast<std::wstring*>(lParam);
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

DWORD WINAPI StatusReader(void* ready) {
    WNDCLASSW windowClass = {};
    windowClass.lpfnWndProc = TakeStatus;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = L"OrvantisPhasesStatus";
    RegisterClassW(&windowClass);
    gWindow = CreateWindowExW(0, windowClass.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                              windowClass.hInstance, nullptr);
    SetEvent(static_cast<HANDLE>(ready));
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) DispatchMessageW(&message);
    return 0;
}

void StartStatusReader() {
    HANDLE ready = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    HANDLE thread = CreateThread(nullptr, 0, StatusReader, ready, 0, nullptr);
    if (thread) WaitForSingleObject(ready, INFINITE);
    CloseHandle(ready);
}

void Phase(const char* name, int runs, const std::function<void()>& body) {
    std::vector<double> ms;
    for (int i = 0; i < runs; ++i) {
        double start = Now();
        body();
        ms.push_back((Now() - start) * 1000);
    }
    std::sort(ms.begin(), ms.end());
    printf("%s %.3f\n", name, ms[ms.size() / 2]);
}

int Run(int argc, wchar_t** argv) {
    if (argc < 4) {
        fwprintf(stderr, L"usage: launcher_phases GAME_FOLDER MANIFEST SIGNATURE_HEX_FILE [RUNS]\n");
        return 2;
    }
    gFolder = argv[1];
    if (gFolder.back() != L'\\') gFolder += L'\\';
    int runs = argc > 4 ? std::max(1, _wtoi(argv[4])) : 3;
    StartStatusReader();
    std::string body, signatureText;
    if (!ReadAll(argv[2], body) || !ReadAll(argv[3], signatureText)) {
        fwprintf(stderr, L"cannot read the manifest or its signature\n");
        return 2;
    }
    while (!signatureText.empty() && (signatureText.back() == '\n' || signatureText.back() == '\r'))
        signatureText.pop_back();

    bool signedOk = false;
    Phase("signature", runs, [&] {
        std::vector<uint8_t> signature;
        signedOk = DecodeSignature(signatureText, signature) && SignedByUs(body, signature);
    });
    std::vector<Entry> entries;
    Phase("manifest_parse", runs, [&] {
        entries.clear();
        Json json(body);
        json.Files(entries);
    });
    Cache cache;
    Phase("load_cache", runs, [&] { cache = LoadCache(); });
    size_t cached = cache.size();
    Phase("valid_entries", runs, [&] {
        for (const Entry& e : entries) {
            std::wstring local;
            ValidEntry(e, local);
        }
    });
    bool clash = false;
    Phase("names_clash", runs, [&] { clash = NamesClash(entries); });
    if (clash) printf("names clash\n");
    // The floor's work inside this process, on the paths the check itself would use.
    std::vector<std::wstring> locals;
    for (const Entry& e : entries) {
        std::wstring local;
        if (ValidEntry(e, local)) locals.push_back(std::move(local));
    }
    Phase("attributes", runs, [&] {
        size_t found = 0;
        for (const std::wstring& local : locals) {
            WIN32_FILE_ATTRIBUTE_DATA info;
            found += GetFileAttributesExW(local.c_str(), GetFileExInfoStandard, &info) ? 1 : 0;
        }
        if (found > locals.size()) printf("?\n");
    });
    Phase("cache_lookups", runs, [&] {
        size_t hits = 0;
        for (const Entry& e : entries) hits += cache.count(e.path);
        if (hits > entries.size()) printf("?\n");
    });
    Phase("valid_attributes_lookups", runs, [&] {
        size_t found = 0;
        for (const Entry& e : entries) {
            std::wstring local;
            if (!ValidEntry(e, local)) continue;
            WIN32_FILE_ATTRIBUTE_DATA info;
            if (GetFileAttributesExW(local.c_str(), GetFileExInfoStandard, &info)) found += cache.count(e.path);
        }
        if (found > entries.size()) printf("?\n");
    });
    Phase("status_x100", runs, [&] {
        for (int k = 0; k < 100; ++k) Status(L"Revisando tus archivos...", k);
    });
    Needed needed;
    Phase("check_local_files", runs, [&] {
        needed.clear();
        CheckLocalFiles(entries, false, cache, needed);
    });
    Phase("save_cache", runs, [&] { SaveCache(cache); });
    printf("entries %zu cached %zu needed %zu signature %s\n", entries.size(), cached, needed.size(),
           signedOk ? "good" : "BAD");
    return signedOk && needed.empty() ? 0 : 1;
}

}  // namespace
}  // namespace orvantis

int wmain(int argc, wchar_t** argv) { return orvantis::Run(argc, argv); }
