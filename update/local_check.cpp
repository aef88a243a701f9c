#include "update/local_check.h"

#include <atomic>
#include <cstring>
#include <memory>
#include <string_view>

#include "launcher/constants.h"
#include "launcher/globals.h"
#include "launcher/owned.h"
#include "launcher/status.h"
#include "manifest/ascii.h"
#include "manifest/safe_path.h"
#include "manifest/sha256.h"

namespace orvantis {
namespace {

constexpr uint64_t kMaxPackSize = 16777216;
constexpr DWORD kReadChunk = 1048576;
constexpr size_t kScanStep = 200;

std::wstring FullPath(const std::wstring& path) {
    wchar_t full[MAX_PATH * 4] = {};
    DWORD n = GetFullPathNameW(path.c_str(), MAX_PATH * 4, full, nullptr);
    return n > 0 && n < MAX_PATH * 4 ? std::wstring(full, n) : path;
}

// Empty when the file does not exist (a name that names nothing aliases nothing).
std::wstring LongPath(const std::wstring& path) {
    wchar_t full[MAX_PATH * 4] = {};
    DWORD n = GetLongPathNameW(path.c_str(), full, MAX_PATH * 4);
    return n > 0 && n < MAX_PATH * 4 ? std::wstring(full, n) : std::wstring();
}

// The launcher's own executable, in the forms a manifest path could reach it by.
struct Self {
    std::wstring canonical;
    std::wstring longForm;
};

Self FindSelf() {
    Self self;
    self.canonical = FullPath(gFolder + kSelfName);
    self.longForm = LongPath(self.canonical);
    return self;
}

// The launcher never replaces its own executable. Besides the manifest's spelling, the
// canonical path counts: "OrvantisKesh.exe." and "OrvantisKesh.exe " lose their trailing
// dot or blank when canonicalised. A '~' may be a short (8.3) alias of the launcher's
// name, which only the long form of the path reveals.
bool IsLauncher(const Entry& entry, const std::wstring& local, const Self& self) {
    if (SameIgnoringAsciiCase(entry.path, "OrvantisKesh.exe")) return true;
    if (SameIgnoringAsciiCase(local, self.canonical)) return true;
    if (entry.path.find('~') == std::string::npos || self.longForm.empty()) return false;
    std::wstring longForm = LongPath(local);
    return !longForm.empty() && SameIgnoringAsciiCase(longForm, self.longForm);
}

// The buffer is lent by the caller, so that a check reads every file through one.
std::string HashWith(const std::wstring& path, uint8_t* buffer) {
    OwnedHandle file = OpenFile(path.c_str(), GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN);
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
        if (!ultraPresent && StartsWithIgnoringAsciiCase(entry.path, "DataUltra/")) continue;
        if (IsLauncher(entry, local, self)) continue;
        if (i % kScanStep == 0) Status(L"Revisando tus archivos...", static_cast<int32_t>(i * 100 / count));

        WIN32_FILE_ATTRIBUTE_DATA info = {};
        bool present = GetFileAttributesExW(local.c_str(), GetFileExInfoStandard, &info) != 0;
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
