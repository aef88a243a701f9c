#include "transfer/downloader.h"

#include <cstdio>
#include <memory>
#include <set>
#include <string>

#include "launcher/extended_path.h"
#include "launcher/globals.h"
#include "launcher/held_files.h"
#include "launcher/own_names.h"
#include "launcher/owned.h"
#include "launcher/progress.h"
#include "launcher/text.h"
#include "manifest/sha256.h"
#include "transfer/fetch.h"
#include "transfer/http.h"
#include "update/job.h"

namespace orvantis {
namespace {

constexpr size_t kCopyBuffer = 65536;
constexpr const wchar_t* kPackFailed =
    L"No se pudo guardar un paquete. Revisa el espacio disponible y vuelve a intentar.";

struct FileCloser {
    void operator()(FILE* f) const { fclose(f); }
};

// Creates the folders of target unless this pack item made them already: the files of a
// pack share a few folders, so asking again for every file would only repeat the request.
// Should someone remove such a folder meanwhile, the ".part" cannot be opened and the
// pack fails with its own message, as for any other place it cannot be written to.
void CreateFoldersOnce(const std::wstring& target, std::set<std::wstring>& made) {
    size_t slash = target.rfind(L'\\');
    if (slash == std::wstring::npos || slash <= gFolder.size()) return CreateFolders(target);
    if (!made.insert(target.substr(0, slash)).second) return;
    CreateFolders(target);
}

// Copies one entry out of the open pack into its ".part", checks it and moves it into place.
bool CutOne(FILE* pack, const Entry& entry, const std::wstring& target, char* buffer,
            std::set<std::wstring>& made) {
    CreateFoldersOnce(target, made);
    const std::wstring part = target + L".part";
    // Denying all sharing matters: two entries with one path in two packs would otherwise
    // write into the same ".part" at once while each hashes only its own bytes, and a
    // mixture of both could be moved into place. The second writer fails instead.
    // Whatever is at the name (a leftover, a planted link) is removed first, never written through.
    OwnedHandle out = CreateFresh(part, GENERIC_WRITE, 0);
    const bool created = static_cast<bool>(out);
    bool good = created && _fseeki64(pack, static_cast<int64_t>(entry.offset), SEEK_SET) == 0;
    Sha256 hash;
    uint64_t remaining = entry.size;
    while (good && remaining != 0) {
        size_t n = remaining < kCopyBuffer ? static_cast<size_t>(remaining) : kCopyBuffer;
        if (fread(buffer, 1, n, pack) != n) {
            good = false;
            break;
        }
        DWORD written = 0;
        if (!WriteFile(out.h, buffer, static_cast<DWORD>(n), &written, nullptr) || written != n) {
            good = false;
            break;
        }
        hash.Add(buffer, static_cast<uint32_t>(n));
        remaining -= n;
    }
    if (created && !CloseHandle(out.Release())) good = false;
    if (good && hash.Hex() != entry.sha256) good = false;
    if (good && !MoveHeld(part, target)) good = false;
    // Only a ".part" of this cut's own is removed: what could not be cleared away is not ours.
    if (!good && created) DeleteHeld(part);
    return good;
}

// Cuts every entry of a downloaded pack item out of the pack file; stops at the first
// that fails. The pack file is removed either way.
bool CutPack(Job& job, const std::vector<uint64_t>& item, const std::wstring& packPath) {
    bool good = false;
    {
        // Just renamed into place, so a scanner may be looking at it.
        std::unique_ptr<FILE, FileCloser> pack(OpenStreamHeld(packPath, L"rb"));
        auto buffer = std::make_unique<char[]>(kCopyBuffer);
        std::set<std::wstring> made;  // folders created for this item's files
        if (pack) {
            good = true;
            for (uint64_t m : item) {
                const auto& [entry, target] = job.files[m];
                if (!CutOne(pack.get(), entry, target, buffer.get(), made)) {
                    good = false;
                    break;
                }
                job.installed[m] = 1;
                job.filesDone.fetch_add(1);
            }
        }
    }
    DeleteHeld(packPath);
    if (!good) SetError(job, kPackFailed);
    Progress(job);
    return good;
}

bool RunItem(Http& files, Http& site, Job& job, const std::vector<uint64_t>& item) {
    if (item.size() == 1) {
        uint64_t k = item.front();
        if (!Fetch(files, site, job, job.files[k].first, job.files[k].second)) return false;
        job.installed[k] = 1;
        job.filesDone.fetch_add(1);
        return true;
    }
    // The pack object is named by its own hash and verified like any file.
    const Entry& first = job.files[item.front()].first;
    Entry pack;
    pack.path = ".orvantis_pack_" + first.pack;
    pack.size = first.packSize;
    pack.sha256 = first.pack;
    const std::wstring packPath = gFolder + Wide(pack.path);
    switch (FetchObject(files, site, job, pack, packPath)) {
        case Fetched::kInstalled:
            return CutPack(job, item, packPath);
        case Fetched::kFailed:
            return false;
        case Fetched::kNotServed:
            break;
    }
    // Every file of a pack is published on its own too: a pack the servers will not give
    // whole costs the run its bytes one by one, not the update.
    for (uint64_t k : item)
        if (job.failed.load() != 0 || !RunItem(files, site, job, {k})) return false;
    return true;
}

}  // namespace

DWORD WINAPI Downloader(void* argument) {
    Job& job = *static_cast<Job*>(argument);
    // Declared files first so that the site connection is closed first.
    Http files(gFiles);
    Http site(gSite);
    try {
        while (job.failed.load() == 0) {
            int32_t i = job.next.fetch_add(1) + 1;
            if (i >= static_cast<int32_t>(job.work.size())) break;
            if (!RunItem(files, site, job, job.work[i])) {
                job.failed.exchange(1);
                break;
            }
            Progress(job);
        }
    } catch (...) {
        // Out of memory: a thread must not take the process down; the run ends partial.
        job.failed.exchange(1);
    }
    return 0;
}

int32_t RunDownloads(Job& job) {
    constexpr size_t kMaxWorkers = 8;
    HANDLE threads[kMaxWorkers] = {};
    DWORD count = 0;
    for (size_t i = 0; i < kMaxWorkers && i < job.work.size(); ++i) {
        HANDLE thread = CreateThread(nullptr, 0, Downloader, &job, 0, nullptr);
        // A thread that could not be made is left out: a null handle in the wait would
        // make it return at once while the others still use the job.
        if (thread != nullptr) threads[count++] = thread;
    }
    if (count > 0) WaitForMultipleObjects(count, threads, TRUE, INFINITE);
    for (DWORD i = 0; i < count; ++i) CloseHandle(threads[i]);
    return static_cast<int32_t>(count);
}

}  // namespace orvantis

namespace orvantis {

bool IsPackName(const std::wstring& name) {
    static const std::wstring prefix = L".orvantis_pack_";
    if (name.compare(0, prefix.size(), prefix) != 0) return false;
    std::wstring rest = name.substr(prefix.size());
    if (rest.size() == 69 && rest.compare(64, 5, L".part") == 0) rest.resize(64);
    if (rest.size() != 64) return false;
    for (wchar_t c : rest)
        if (!((c >= L'0' && c <= L'9') || (c >= L'a' && c <= L'f'))) return false;
    return true;
}

// A pack may be 16 MiB, and nothing else would ever remove one that a closed run left.
void RemovePackLeftovers() {
    std::vector<std::wstring> found;
    WIN32_FIND_DATAW data;
    OwnedFind find = FindFirst((ExtendedPath(gFolder) + L".orvantis_pack_*").c_str(), &data);
    if (!find) return;
    do {
        if (IsPackName(data.cFileName)) found.push_back(data.cFileName);
    } while (FindNextFileW(find.h, &data));
    find.Reset();
    // A link is removed as a link, and a real folder of that name is left alone.
    for (const std::wstring& name : found) ClearName(gFolder + name);
}

}  // namespace orvantis
