#include "transfer/fetch.h"

#include "launcher/constants.h"
#include "launcher/extended_path.h"
#include "launcher/globals.h"
#include "launcher/held_files.h"
#include "launcher/own_names.h"
#include "launcher/owned.h"
#include "launcher/progress.h"
#include "launcher/text.h"
#include "manifest/sha256.h"
#include "transfer/http.h"
#include "update/job.h"

namespace orvantis {

uint32_t gRetryWaits[5] = {2000, 5000, 10000, 3000, 0};

namespace {

constexpr int kAttempts = 5;
constexpr int kFirstSiteAttempt = 3;  // attempts 0..2 ask the files host, 3..4 the site host
constexpr const wchar_t* kGameOpenHint = L". \u00bfEl juego est\u00e1 abierto? Ci\u00e9rralo y vuelve a abrir el lanzador.";

}  // namespace

void CreateFolders(const std::wstring& target) {
    // Folders above gFolder exist already; starting past it also keeps a UNC or drive
    // prefix from being "created".
    size_t pos = gFolder.size();
    while ((pos = target.find(L'\\', pos + 1)) != std::wstring::npos)
        CreateDirectoryW(ExtendedPath(target.substr(0, pos)).c_str(), nullptr);
}

Fetched FetchObject(Http& files, Http& site, Job& job, const Entry& entry, const std::wstring& target) {
    CreateFolders(target);
    const std::wstring part = target + L".part";
    const std::wstring name = Wide(entry.path);
    const std::wstring url = std::wstring(kFilesPath) + Wide(entry.sha256);

    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        // No sharing: nothing else may write into, or move away, the bytes being hashed. Whatever
        // is at the name (a killed run's leftover, read-only or not, or a planted link) is removed
        // first, and never written through.
        OwnedHandle file = CreateFresh(part, GENERIC_WRITE, 0);
        if (!file) {
            SetError(job, L"No se pudo escribir " + name + kGameOpenHint);
            return Fetched::kFailed;
        }
        Sha256 hash;
        uint64_t received = 0;
        bool writeFailed = false;
        Http& http = attempt < kFirstSiteAttempt ? files : site;
        int32_t status = http.Get(
            url,
            [&](const uint8_t* data, uint32_t count) {
                hash.Add(data, count);
                received += count;
                job.bytesDone.fetch_add(count);
                Progress(job);
                DWORD written = 0;
                if (!WriteFile(file.h, data, count, &written, nullptr) || written != count) {
                    writeFailed = true;
                    return false;
                }
                // An overlong body can never verify: stop reading it at once.
                return received <= entry.size && job.failed.load() == 0;
            },
            nullptr);
        file.Reset();

        if (status == 200 && received == entry.size && hash.Hex() == entry.sha256) {
            // A scanner looks at the closed ".part" at once, and the rename waits for it.
            if (MoveHeld(part, target)) return Fetched::kInstalled;
            DeleteHeld(part);
            SetError(job, L"No se pudo reemplazar " + name + kGameOpenHint);
            return Fetched::kFailed;
        }

        DeleteHeld(part);
        job.bytesDone.fetch_sub(static_cast<int64_t>(received));
        if (writeFailed) {
            SetError(job, L"No queda espacio o no se puede escribir en la carpeta del juego.");
            return Fetched::kFailed;
        }
        if (job.failed.load() != 0) return Fetched::kFailed;
        if (attempt < kFirstSiteAttempt && status == 404) {
            // The bucket does not have it; asking again will not help, the site might.
            attempt = kFirstSiteAttempt - 1;
            continue;
        }
        Sleep(gRetryWaits[attempt]);
    }
    return Fetched::kNotServed;
}

bool Fetch(Http& files, Http& site, Job& job, const Entry& entry, const std::wstring& target) {
    Fetched fetched = FetchObject(files, site, job, entry, target);
    if (fetched == Fetched::kNotServed) SetError(job, L"No se pudo descargar " + Wide(entry.path) + L".");
    return fetched == Fetched::kInstalled;
}

}  // namespace orvantis
