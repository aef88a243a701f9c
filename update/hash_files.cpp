#include "update/hash_files.h"

#include <atomic>
#include <memory>

#include "launcher/held_files.h"
#include "launcher/owned.h"
#include "manifest/sha256.h"

namespace orvantis {
namespace {

constexpr DWORD kReadChunk = 1048576;

// The buffer is lent by the caller, so that one buffer serves every file a thread reads.
std::string HashWith(const std::wstring& path, uint8_t* buffer) {
    // A scanner may hold a file it has just seen; waiting for it spares a needless download.
    OwnedHandle file = OpenHeld(path, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN);
    if (!file) return "";
    Sha256 sha;
    DWORD got = 0;
    while (ReadFile(file.h, buffer, kReadChunk, &got, nullptr) && got > 0) sha.Add(buffer, got);
    file.Reset();
    return sha.Hex();
}

struct Shared {
    const std::vector<std::wstring>& paths;
    std::vector<std::string>& digests;
    std::atomic<size_t> next{0};
    std::unique_ptr<uint8_t[]> helperBuffer;
};

// Takes the next file not yet taken until none is left. Nothing may escape while the helper
// shares the record: a file whose digest cannot be made for want of memory keeps "", like a
// file that cannot be opened, and is fetched again.
void HashShare(Shared& shared, uint8_t* buffer, const std::function<void(size_t)>* reading) {
    for (size_t k; (k = shared.next++) < shared.paths.size();) {
        try {
            if (reading) (*reading)(k);
            shared.digests[k] = HashWith(shared.paths[k], buffer);
        } catch (...) {
            shared.digests[k].clear();
        }
    }
}

// The local check's helper, the one thread of its kind (README.md lists the launcher's
// threads): it hashes files beside the update thread, so that one file is read while
// another is hashed. It lives for one HashFiles call, which waits for it, and touches
// nothing but the paths and digests it shares with that call.
DWORD WINAPI HashHelper(void* parameter) {
    Shared& shared = *static_cast<Shared*>(parameter);
    HashShare(shared, shared.helperBuffer.get(), nullptr);
    return 0;
}

}  // namespace

std::string HashFile(const std::wstring& path) {
    std::unique_ptr<uint8_t[]> buffer(new uint8_t[kReadChunk]);
    return HashWith(path, buffer.get());
}

std::vector<std::string> HashFiles(const std::vector<std::wstring>& paths,
                                   const std::function<void(size_t)>& reading) {
    std::vector<std::string> digests(paths.size());
    if (paths.empty()) return digests;
    Shared shared{paths, digests, {}, nullptr};
    std::unique_ptr<uint8_t[]> buffer(new uint8_t[kReadChunk]);
    HANDLE helper = nullptr;
    if (paths.size() > 1) {
        shared.helperBuffer.reset(new uint8_t[kReadChunk]);
        // Without the helper the update thread reads every file itself.
        helper = CreateThread(nullptr, 0, HashHelper, &shared, 0, nullptr);
    }
    HashShare(shared, buffer.get(), &reading);
    if (helper) {
        WaitForSingleObject(helper, INFINITE);
        CloseHandle(helper);
    }
    return digests;
}

}  // namespace orvantis
