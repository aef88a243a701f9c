// A stand-in for a real-time virus scanner: it watches a folder and everything below it, and
// opens each new or renamed file without sharing it for a random 20 to 400 ms, as soon as it
// can (a file another program is still writing is opened the moment that program lets go).
//
//   scanner.exe FOLDER RECORD [SEED]
//
// RECORD (outside FOLDER) gets "watching" once the watch is set up, then one line per hold:
// "held <ms> <path below FOLDER>". The scanner runs until it is ended.
//
// A recursive watch under Wine reports changes only in folders that some process has opened,
// so every folder is opened as it appears and looked through for files made before that.
#include <atomic>
#include <cstdio>
#include <mutex>
#include <random>
#include <string>
#include <vector>

#include "launcher/owned.h"
#include "launcher/text.h"
#include "launcher/win.h"

namespace {

using orvantis::OwnedHandle;

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
constexpr DWORD kMinHoldMs = 20;
constexpr DWORD kMaxHoldMs = 400;
constexpr DWORD kGiveUpMs = 20000;  // a file written for longer than this is left alone

std::wstring gRoot;  // ends with a backslash
FILE* gRecord = nullptr;
std::mutex gLock;  // the record, the random numbers, the open folders
std::mt19937 gRandom;
std::vector<OwnedHandle> gFolders;

void Record(const std::string& line) {
    std::lock_guard<std::mutex> hold(gLock);
    fprintf(gRecord, "%s\n", line.c_str());
    fflush(gRecord);
}

DWORD HoldTime() {
    std::lock_guard<std::mutex> hold(gLock);
    return std::uniform_int_distribution<DWORD>(kMinHoldMs, kMaxHoldMs)(gRandom);
}

struct HoldJob {
    std::wstring relative;
};

// Opens the file as soon as nobody else has it open in a way that excludes us, and holds it.
DWORD WINAPI Hold(void* parameter) {
    HoldJob* job = static_cast<HoldJob*>(parameter);
    std::wstring path = gRoot + job->relative;
    ULONGLONG end = GetTickCount64() + kGiveUpMs;
    while (GetTickCount64() < end) {
        HANDLE h = CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (h != INVALID_HANDLE_VALUE) {
            DWORD ms = HoldTime();
            Sleep(ms);
            CloseHandle(h);
            Record("held " + std::to_string(ms) + " " + orvantis::Narrow(job->relative));
            break;
        }
        DWORD error = GetLastError();
        if (error != ERROR_SHARING_VIOLATION && error != ERROR_ACCESS_DENIED && error != ERROR_LOCK_VIOLATION) break;
        Sleep(1);
    }
    delete job;
    return 0;
}

void StartHold(const std::wstring& relative) {
    HANDLE thread = CreateThread(nullptr, 0, Hold, new HoldJob{relative}, 0, nullptr);
    if (thread) CloseHandle(thread);
}

void OpenFolder(const std::wstring& relative);

// Everything a folder holds: files made before the folder was being watched are held too.
void LookThrough(const std::wstring& relative) {
    WIN32_FIND_DATAW data;
    orvantis::OwnedFind find = orvantis::FindFirst((gRoot + relative + L"*").c_str(), &data);
    if (!find) return;
    do {
        std::wstring name = data.cFileName;
        if (name == L"." || name == L"..") continue;
        if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            OpenFolder(relative + name + L"\\");
        else
            StartHold(relative + name);
    } while (FindNextFileW(find.h, &data));
}

// relative ends with a backslash (empty for the root).
void OpenFolder(const std::wstring& relative) {
    OwnedHandle folder = orvantis::OpenFile((gRoot + relative).c_str(), FILE_LIST_DIRECTORY, kShareAll, OPEN_EXISTING,
                                            FILE_FLAG_BACKUP_SEMANTICS);
    if (!folder) return;
    {
        std::lock_guard<std::mutex> hold(gLock);
        gFolders.push_back(std::move(folder));
    }
    LookThrough(relative);
}

void OnChange(DWORD action, const std::wstring& relative) {
    if (action != FILE_ACTION_ADDED && action != FILE_ACTION_RENAMED_NEW_NAME) return;
    DWORD attributes = GetFileAttributesW((gRoot + relative).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return;
    if (attributes & FILE_ATTRIBUTE_DIRECTORY)
        OpenFolder(relative + L"\\");
    else
        StartHold(relative);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 3) {
        fprintf(stderr, "usage: scanner.exe FOLDER RECORD [SEED]\n");
        return 2;
    }
    gRoot = argv[1];
    if (gRoot.back() != L'\\') gRoot += L'\\';
    gRecord = _wfopen(argv[2], L"ab");
    if (!gRecord) return 2;
    unsigned seed = argc > 3 ? static_cast<unsigned>(_wtoi(argv[3])) : static_cast<unsigned>(GetTickCount64());
    gRandom.seed(seed);

    OwnedHandle root = orvantis::OpenFile(gRoot.c_str(), FILE_LIST_DIRECTORY, kShareAll, OPEN_EXISTING,
                                          FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OVERLAPPED);
    OwnedHandle event(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!root || !event) return 3;
    std::vector<uint8_t> buffer(1 << 16);
    const DWORD filter = FILE_NOTIFY_CHANGE_FILE_NAME | FILE_NOTIFY_CHANGE_DIR_NAME;
    for (bool watching = false;;) {
        OVERLAPPED pending = {};
        pending.hEvent = event.h;
        if (!ReadDirectoryChangesW(root.h, buffer.data(), static_cast<DWORD>(buffer.size()), TRUE, filter, nullptr,
                                   &pending, nullptr))
            return 4;
        // The watch runs from the first request on: only then is what exists looked through.
        if (!watching) {
            LookThrough(L"");
            Record("watching seed " + std::to_string(seed));
            watching = true;
        }
        DWORD got = 0;
        if (!GetOverlappedResult(root.h, &pending, &got, TRUE)) return 5;
        // An overflow (got == 0) loses the changes in between; a real scanner misses some too.
        for (DWORD offset = 0; got > 0;) {
            auto* info = reinterpret_cast<FILE_NOTIFY_INFORMATION*>(buffer.data() + offset);
            OnChange(info->Action, std::wstring(info->FileName, info->FileNameLength / sizeof(wchar_t)));
            if (info->NextEntryOffset == 0) break;
            offset += info->NextEntryOffset;
        }
    }
}
