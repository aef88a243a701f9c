#include "update/local_check.h"

#include <atomic>
#include <cstring>
#include <memory>
#include <string_view>

#include "launcher/constants.h"
#include "launcher/extended_path.h"
#include "launcher/globals.h"
#include "launcher/held_files.h"
#include "launcher/owned.h"
#include "launcher/status.h"
#include "manifest/safe_path.h"
#include "manifest/sha256.h"

namespace orvantis {
namespace {

constexpr uint64_t kMaxPackSize = 16777216;
constexpr DWORD kReadChunk = 1048576;
constexpr size_t kScanStep = 200;

bool IsLowerHex(const std::string& text) {
    for (char c : text)
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
    return true;
}

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

// The C library's case-insensitive comparisons look up the locale for every character, which
// under Wine costs a good part of a warm start over 20,000 entries. The launcher never sets a
// locale, and in the "C" locale they fold the ASCII letters alone, which is what these do.
template <typename Char>
bool SameIgnoringAsciiCase(std::basic_string_view<Char> a, std::basic_string_view<Char> b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        Char x = a[i] >= 'A' && a[i] <= 'Z' ? Char(a[i] - 'A' + 'a') : a[i];
        Char y = b[i] >= 'A' && b[i] <= 'Z' ? Char(b[i] - 'A' + 'a') : b[i];
        if (x != y) return false;
    }
    return true;
}

bool SameName(std::string_view a, std::string_view b) { return SameIgnoringAsciiCase(a, b); }
bool SameName(std::wstring_view a, std::wstring_view b) { return SameIgnoringAsciiCase(a, b); }

// The launcher's own executable, in the forms a manifest path could reach it by.
struct Self {
    std::wstring canonical;
    FileIdentity file;
};

Self FindSelf() {
    Self self;
    self.canonical = FullPath(gFolder + kSelfName);
    self.file = IdentityOf(self.canonical);
    return self;
}

// The launcher never replaces its own executable. Besides the manifest's spelling, the
// canonical path counts: "OrvantisKesh.exe." and "OrvantisKesh.exe " lose their trailing
// dot or blank when canonicalised. A '~' may be a short (8.3) alias of the launcher's name:
// the file it opens tells. (Asking for the long form of the name would not: the platform
// answers it for the extended form of a path, which every call here uses, only on Windows.)
bool IsLauncher(const Entry& entry, const std::wstring& local, const Self& self) {
    if (SameName(entry.path, "OrvantisKesh.exe")) return true;
    if (SameName(local, self.canonical)) return true;
    if (entry.path.find('~') == std::string::npos || !self.file.known) return false;
    return IdentityOf(local) == self.file;
}

// Wine's ReadFile touches every page of the buffer it is given before it reads, so a
// buffer made fresh for every file would pay a page fault per 4 KiB of it per file; the
// check lends one buffer of kReadChunk bytes to every file instead.
std::string HashWith(const std::wstring& path, uint8_t* buffer) {
    // A scanner may hold a file it has just seen; waiting for it spares a needless download.
    OwnedHandle file = OpenHeld(path, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN);
    if (!file) return "";
    Sha256 sha;
    DWORD got = 0;
    // A read error ends the digest early; it then fails the comparison like any wrong content.
    while (ReadFile(file.h, buffer, kReadChunk, &got, nullptr) && got > 0) sha.Add(buffer, got);
    file.Reset();
    return sha.Hex();
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

std::string HashFile(const std::wstring& path) {
    std::unique_ptr<uint8_t[]> buffer(new uint8_t[kReadChunk]);
    return HashWith(path, buffer.get());
}

namespace {

// The files whose content must be read are hashed in batches on two threads, so that one
// file is read while another is hashed, and a repair runs at hashing speed. Everything the
// walk decides stays in manifest order: the needed list, the cache records, the progress.
constexpr size_t kBatchFiles = 64;
constexpr uint64_t kBatchBytes = 64ull << 20;

// An entry whose verdict waits for its batch: needed already, or waiting for its digest.
struct Outcome {
    size_t entry = 0;
    std::wstring local;
    bool pending = false;
    uint64_t length = 0;
    uint64_t written = 0;
    std::string digest;
};

struct Hashing {
    std::vector<Outcome>* outcomes = nullptr;
    std::atomic<size_t> next{0};
    uint8_t* buffer = nullptr;  // the helper thread's
};

// Claims pending files one at a time until none is left. A file whose hashing fails for
// want of memory keeps an empty digest and is fetched again, like a file that cannot be read.
void HashPending(Hashing& run, uint8_t* buffer) {
    std::vector<Outcome>& outcomes = *run.outcomes;
    for (size_t k; (k = run.next++) < outcomes.size();) {
        if (!outcomes[k].pending) continue;
        try {
            outcomes[k].digest = HashWith(outcomes[k].local, buffer);
        } catch (...) {
            outcomes[k].digest.clear();
        }
    }
}

DWORD WINAPI HashHelper(void* parameter) {
    Hashing& run = *static_cast<Hashing*>(parameter);
    HashPending(run, run.buffer);
    return 0;
}

struct Batch {
    std::vector<Outcome> outcomes;
    size_t pending = 0;
    uint64_t bytes = 0;
    std::unique_ptr<uint8_t[]> buffers[2];  // made at the first file that must be read
};

void FinishBatch(const std::vector<Entry>& entries, Batch& batch, Cache& cache, Needed& needed) {
    if (batch.pending > 0) {
        Hashing run;
        run.outcomes = &batch.outcomes;
        run.buffer = batch.buffers[1].get();
        // Without a helper thread the update thread hashes every file itself.
        HANDLE helper = batch.pending > 1 ? CreateThread(nullptr, 0, HashHelper, &run, 0, nullptr) : nullptr;
        HashPending(run, batch.buffers[0].get());
        if (helper) {
            WaitForSingleObject(helper, INFINITE);
            CloseHandle(helper);
        }
    }
    for (Outcome& outcome : batch.outcomes) {
        const Entry& entry = entries[outcome.entry];
        if (outcome.pending) {
            Cached& record = cache[entry.path];
            record = Cached{outcome.length, outcome.written, outcome.digest};
            if (record.sha256 == entry.sha256) continue;
        }
        needed.emplace_back(entry, std::move(outcome.local));
    }
    batch.outcomes.clear();
    batch.pending = 0;
    batch.bytes = 0;
}

}  // namespace

bool CheckLocalFiles(const std::vector<Entry>& entries, bool ultraPresent, Cache& cache, Needed& needed) {
    const Self self = FindSelf();
    Batch batch;
    const size_t count = entries.size();
    for (size_t i = 0; i < count; ++i) {
        const Entry& entry = entries[i];
        std::wstring local;
        if (!ValidEntry(entry, local)) return false;
        if (!ultraPresent && SameName(std::string_view(entry.path).substr(0, 10), "DataUltra/")) continue;
        if (IsLauncher(entry, local, self)) continue;
        if (i % kScanStep == 0) Status(L"Revisando tus archivos...", static_cast<int32_t>(i * 100 / count));

        WIN32_FILE_ATTRIBUTE_DATA info = {};
        bool present = GetFileAttributesExW(ExtendedPath(local).c_str(), GetFileExInfoStandard, &info) != 0;
        uint64_t length = (uint64_t(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
        uint64_t written =
            (uint64_t(info.ftLastWriteTime.dwHighDateTime) << 32) | info.ftLastWriteTime.dwLowDateTime;
        Outcome outcome;
        if (!present || length != entry.size) {
            // Needed without a look at its content; its cache record is left as it was.
        } else if (auto found = cache.find(entry.path);
                   found != cache.end() && found->second.size == length && found->second.writeTime == written) {
            // The record vouches for the file and is already what the check would write back.
            if (found->second.sha256 == entry.sha256) continue;
        } else {
            if (!batch.buffers[0]) {
                batch.buffers[0].reset(new uint8_t[kReadChunk]);
                batch.buffers[1].reset(new uint8_t[kReadChunk]);
            }
            outcome.pending = true;
            outcome.length = length;
            outcome.written = written;
            ++batch.pending;
            batch.bytes += length;
        }
        if (!outcome.pending && batch.outcomes.empty()) {
            needed.emplace_back(entry, std::move(local));
            continue;
        }
        outcome.entry = i;
        outcome.local = std::move(local);
        batch.outcomes.push_back(std::move(outcome));
        if (batch.pending >= kBatchFiles || batch.bytes >= kBatchBytes) FinishBatch(entries, batch, cache, needed);
    }
    FinishBatch(entries, batch, cache, needed);
    return true;
}

}  // namespace orvantis
