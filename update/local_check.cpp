#include "update/local_check.h"

#include <cstdint>
#include <utility>

#include "launcher/constants.h"
#include "launcher/extended_path.h"
#include "launcher/globals.h"
#include "launcher/owned.h"
#include "launcher/status.h"
#include "manifest/ascii.h"
#include "manifest/safe_path.h"
#include "update/hash_files.h"

namespace orvantis {
namespace {

constexpr uint64_t kMaxPackSize = 16777216;
constexpr size_t kScanStep = 200;
constexpr size_t kNotRead = SIZE_MAX;

std::wstring FullPath(const std::wstring& path) {
    wchar_t full[MAX_PATH * 4] = {};
    DWORD n = GetFullPathNameW(path.c_str(), MAX_PATH * 4, full, nullptr);
    return n > 0 && n < MAX_PATH * 4 ? std::wstring(full, n) : path;
}

// Which file a path names, whatever name it is reached by; unknown when nothing is there (a
// name that names nothing aliases nothing).
struct FileIdentity {
    bool known = false;
    DWORD volume = 0;
    uint64_t index = 0;
    bool operator==(const FileIdentity& o) const { return known && o.known && volume == o.volume && index == o.index; }
};

FileIdentity IdentityOf(const std::wstring& path) {
    FileIdentity id;
    OwnedHandle file = OpenFile(ExtendedPath(path).c_str(), FILE_READ_ATTRIBUTES,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, OPEN_EXISTING);
    BY_HANDLE_FILE_INFORMATION info;
    if (!file || !GetFileInformationByHandle(file.h, &info)) return id;
    id.known = true;
    id.volume = info.dwVolumeSerialNumber;
    id.index = (uint64_t(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
    return id;
}

// The launcher's own files: its executable and the state it keeps beside the game. A manifest
// that lists one would replace the launcher's record of itself (the log's history, the record of
// releases) and fetch it again at every start, since the launcher rewrites it.
const wchar_t* const kOwnNames[] = {kSelfName, kLogName, kCacheName, kResultName, kReleaseName};

// One of them, in the forms a manifest path could reach it by.
struct OwnFile {
    std::wstring canonical;
    FileIdentity file;
};

std::vector<OwnFile> FindOwnFiles() {
    std::vector<OwnFile> own;
    for (const wchar_t* name : kOwnNames) {
        OwnFile one;
        one.canonical = FullPath(gFolder + name);
        one.file = IdentityOf(one.canonical);
        own.push_back(std::move(one));
    }
    return own;
}

// The launcher never replaces its own files. Besides the manifest's spelling, the canonical
// path counts: "OrvantisKesh.exe." and "OrvantisKesh.exe " lose their trailing dot or blank
// when canonicalised. A '~' may be a short (8.3) alias of one of the names: the file it opens
// tells. (Asking for the long form of the name would not: the platform answers it for the
// extended form of a path, which every call here uses, only on Windows.)
bool IsOwnFile(const Entry& entry, const std::wstring& local, const std::vector<OwnFile>& own) {
    if (SameIgnoringAsciiCase(entry.path, "OrvantisKesh.exe")) return true;
    for (const OwnFile& one : own)
        if (SameIgnoringAsciiCase(local, one.canonical)) return true;
    if (entry.path.find('~') == std::string::npos) return false;
    const FileIdentity file = IdentityOf(local);
    for (const OwnFile& one : own)
        if (file == one.file) return true;
    return false;
}

// An entry that its cache record did not settle: needed without a look at its content, or
// judged by the digest of the file.
struct Unsettled {
    size_t entry = 0;
    size_t file = kNotRead;  // index among the files to read; kNotRead: needed as it is
    std::wstring local;      // for an entry needed as it is; the others' paths are read
    uint64_t length = 0;
    uint64_t written = 0;
};

// A scan line, shown once every file to read before its entry has been read.
struct ScanLine {
    size_t before = 0;  // files to read that come before the line
    int32_t percent = 0;
};

void ShowScan(int32_t percent) { Status(L"Revisando tus archivos...", percent); }

struct Decided {
    std::vector<Unsettled> unsettled;  // manifest order
    std::vector<std::wstring> read;    // local paths of the files whose content decides
    std::vector<ScanLine> waiting;     // scan lines that wait for the reading
};

// The first step: every entry in manifest order, from the file's attributes and its cache
// record alone. False at the first invalid entry, before any file has been read.
bool Decide(const std::vector<Entry>& entries, bool ultraPresent, const Cache& cache, Decided& out) {
    const std::vector<OwnFile> own = FindOwnFiles();
    const size_t count = entries.size();
    for (size_t i = 0; i < count; ++i) {
        const Entry& entry = entries[i];
        std::wstring local;
        if (!ValidEntry(entry, local)) return false;
        if (!ultraPresent && StartsWithIgnoringAsciiCase(entry.path, "DataUltra/")) continue;
        if (IsOwnFile(entry, local, own)) continue;
        if (i % kScanStep == 0) {
            int32_t percent = static_cast<int32_t>(i * 100 / count);
            if (out.read.empty())
                ShowScan(percent);
            else
                out.waiting.push_back(ScanLine{out.read.size(), percent});
        }

        WIN32_FILE_ATTRIBUTE_DATA info = {};
        bool present = GetFileAttributesExW(ExtendedPath(local).c_str(), GetFileExInfoStandard, &info) != 0;
        uint64_t length = (uint64_t(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
        uint64_t written =
            (uint64_t(info.ftLastWriteTime.dwHighDateTime) << 32) | info.ftLastWriteTime.dwLowDateTime;
        Unsettled item;
        item.entry = i;
        if (!present || length != entry.size) {
            // Needed without a look at its content; its cache record is left as it was.
            item.local = std::move(local);
        } else if (auto found = cache.find(entry.path);
                   found != cache.end() && found->second.size == length && found->second.writeTime == written) {
            // The record vouches for the file and is already what the check would write back.
            if (found->second.sha256 == entry.sha256) continue;
            item.local = std::move(local);
        } else {
            item.file = out.read.size();
            item.length = length;
            item.written = written;
            out.read.push_back(std::move(local));
        }
        out.unsettled.push_back(std::move(item));
    }
    return true;
}

}  // namespace

bool ValidEntry(const Entry& entry, std::wstring& local) {
    if (!SafePath(entry.path, local)) return false;
    if (entry.sha256.size() != 64) return false;
    if (entry.pack.empty()) return true;
    return entry.pack.size() == 64 && IsLowerHex(entry.pack) && entry.packSize >= 1 &&
           entry.packSize <= kMaxPackSize && entry.offset <= entry.packSize &&
           entry.packSize - entry.offset >= entry.size;
}

bool CheckLocalFiles(const std::vector<Entry>& entries, bool ultraPresent, Cache& cache, Needed& needed) {
    Decided decided;
    if (!Decide(entries, ultraPresent, cache, decided)) return false;

    // The second step reads what the first could not settle; the scan lines follow it.
    size_t shown = 0;
    auto showUpTo = [&](size_t files) {
        for (; shown < decided.waiting.size() && decided.waiting[shown].before <= files; ++shown)
            ShowScan(decided.waiting[shown].percent);
    };
    std::vector<std::string> digests = HashFiles(decided.read, showUpTo);
    showUpTo(decided.read.size());

    // The third step: the verdicts and the records in manifest order, as one walk makes them.
    for (Unsettled& item : decided.unsettled) {
        const Entry& entry = entries[item.entry];
        if (item.file == kNotRead) {
            needed.emplace_back(entry, std::move(item.local));
            continue;
        }
        Cached& record = cache[entry.path];
        record = Cached{item.length, item.written, std::move(digests[item.file])};
        if (record.sha256 != entry.sha256) needed.emplace_back(entry, std::move(decided.read[item.file]));
    }
    return true;
}

}  // namespace orvantis
