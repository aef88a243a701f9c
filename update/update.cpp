#include "update/update.h"

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "launcher/config.h"
#include "launcher/constants.h"
#include "launcher/files.h"
#include "launcher/extended_path.h"
#include "launcher/globals.h"
#include "launcher/status.h"
#include "manifest/cache.h"
#include "manifest/json.h"
#include "manifest/signature.h"
#include "transfer/downloader.h"
#include "transfer/http.h"
#include "transfer/plan.h"
#include "update/install_question.h"
#include "update/job.h"
#include "update/local_check.h"
#include "update/name_clashes.h"
#include "update/release_record.h"

namespace orvantis {
namespace {

const wchar_t kNoConnection[] = L"Sin conexi\u00f3n con la web: se juega con los archivos que tienes.";
const wchar_t kNoManifest[] = L"No hay actualizaci\u00f3n publicada: se juega con los archivos que tienes.";
const wchar_t kBadSignature[] =
    L"La actualizaci\u00f3n no tiene una firma v\u00e1lida y no se aplic\u00f3. Avisa a un administrador.";
const wchar_t kOlderRelease[] =
    L"La actualizaci\u00f3n es m\u00e1s antigua que la que ya tienes y no se aplic\u00f3. Avisa a un "
    L"administrador.";
const wchar_t kNoMemory[] =
    L"La actualizaci\u00f3n no se pudo terminar por falta de memoria: cierra otros programas y vuelve a abrir "
    L"el lanzador.";
const wchar_t kUnreadableList[] = L"La lista de archivos de la actualizaci\u00f3n no se pudo leer.";
const wchar_t kInvalidEntry[] = L"La actualizaci\u00f3n trae una ruta no v\u00e1lida y no se aplic\u00f3.";
const wchar_t kPartial[] =
    L" La actualizaci\u00f3n qued\u00f3 a medias: vuelve a abrir el lanzador m\u00e1s tarde, o descarga el juego "
    L"completo en la web (Descargas).";
const wchar_t kGameVanished[] =
    L"Main.exe desapareci\u00f3 despu\u00e9s de descargarlo: seguramente lo quit\u00f3 el antivirus. Pulsa Jugar "
    L"para ver c\u00f3mo recuperarlo.";

// The run is over; the window reads gReady when this arrives, so gReady must be final by now.
void Finish() { PostMessageW(gWindow, kMsgFinished, 0, 0); }

// Downloads every needed file with the workers and records the installed ones in cache
// (size and write time from the disk, digest from the manifest: the file is not read
// again). False, with the workers' last failure in error, when not every file arrived.
// The needed list becomes the job's own: one copy of it, not two, lives through the downloads.
bool DownloadPhase(Needed&& needed, Cache& cache, std::wstring& error) {
    RemovePackLeftovers();
    Job job;
    job.files = std::move(needed);
    job.started = GetTickCount64();
    PlanDownloads(job);

    InitializeCriticalSection(&job.lock);
    RunDownloads(job);
    // Every worker may end without a failure and still leave files behind (a worker thread
    // that could not be started): the run is only complete when every file arrived.
    if (job.filesDone.load() != static_cast<int32_t>(job.files.size())) job.failed.store(1);
    DeleteCriticalSection(&job.lock);

    for (size_t i = 0; i < job.files.size(); ++i) {
        if (job.installed[i] != 1) continue;
        const auto& [entry, local] = job.files[i];
        WIN32_FILE_ATTRIBUTE_DATA info;
        if (!GetFileAttributesExW(ExtendedPath(local).c_str(), GetFileExInfoStandard, &info)) continue;
        uint64_t length = (uint64_t(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
        if (length != entry.size) continue;
        uint64_t written =
            (uint64_t(info.ftLastWriteTime.dwHighDateTime) << 32) | info.ftLastWriteTime.dwLowDateTime;
        cache[entry.path] = Cached{length, written, entry.sha256};
    }
    error = job.error;
    return job.failed.load() == 0;
}

// From the first cache save to the end of the run.
void DownloadAndFinish(Needed&& needed, Cache& cache) {
    const size_t count = needed.size();
    std::wstring error;
    bool complete = DownloadPhase(std::move(needed), cache, error);
    SaveCache(cache);
    if (!complete) {
        Status(PartialText(error), 100);
        Finish();
        return;
    }
    WriteDefaultConfig();
    if (!Exists(gFolder + kGameName)) {
        Status(kGameVanished, 100);
        Finish();
        return;
    }
    Status(ClosingText(count), 100);
    gReady = true;
    Finish();
}

// Takes the entries over so that they are freed once checked: the needed list holds its own
// copy of every entry that is still wanted. The folder's release record is raised once the check
// has accepted every entry, before the downloads write to the folder: a release refused at the
// question or at an entry leaves it as it was.
void CheckAndDownload(std::vector<Entry> entries, bool ultraPresent, const Release& offered,
                      const Release& record) {
    // Nothing may be written to a folder the user has not agreed to install into.
    if (NeedsInstall() && !ConfirmInstall(entries)) return;
    WriteDefaultConfig();
    Cache cache = LoadCache();
    Needed needed;
    if (!CheckLocalFiles(entries, ultraPresent, cache, needed)) {
        // The cache is dropped unsaved: a refused manifest must leave no trace.
        Status(kInvalidEntry, 100);
        Finish();
        return;
    }
    std::vector<Entry>().swap(entries);
    RaiseReleaseRecord(offered, record);
    // Saved before downloading, so the hashes just computed survive a failed download.
    SaveCache(cache);
    DownloadAndFinish(std::move(needed), cache);
}

}  // namespace

std::wstring ClosingText(size_t installed) {
    std::wstring text;
    if (installed == 0)
        text = L"El juego est\u00e1 al d\u00eda.";
    else
        text = L"Actualizaci\u00f3n terminada: " + std::to_wstring(installed) +
               (installed == 1 ? L" archivo nuevo." : L" archivos nuevos.");
    return text + L" Abriendo el juego...";
}

std::wstring PartialText(const std::wstring& error) { return error + kPartial; }

// The manifest is held whole for the signature check, so a body that keeps coming is cut
// off at the limit rather than taking the player's memory.
Sink BodySink(std::string& body, size_t limit) {
    return [&body, limit](const uint8_t* data, uint32_t count) {
        body.append(reinterpret_cast<const char*>(data), count);
        return body.size() <= limit;
    };
}

namespace {

// The run from the manifest request to its last message; Update keeps what it throws from
// leaving the thread.
void Run() {
    // Lives for the whole run and is closed (connection, then session) when the run returns.
    Http http(gSite);
    Status(L"Buscando actualizaciones...", -1);

    std::string body;
    std::string signature;
    int32_t status = http.Get(kManifestPath, BodySink(body, kManifestLimit), &signature);
    if (status != 200) {
        Status(status == 0 ? kNoConnection : kNoManifest, 100);
        gReady = Exists(gFolder + kGameName);
        Finish();
        return;
    }

    std::vector<uint8_t> sigBytes;
    if (!DecodeSignature(signature, sigBytes) || !SignedByUs(body, sigBytes)) {
        Status(kBadSignature, 100);
        Finish();
        return;
    }

    std::vector<Entry> entries;
    Json manifest(body);
    bool listed = manifest.Files(entries);
    // Everything it held is in entries now, so the body need not live through the check and downloads.
    std::string().swap(body);
    if (!listed || entries.empty()) {
        Status(kUnreadableList, 100);
        Finish();
        return;
    }

    // A signature says who made a manifest, not when: an older release served again is signed
    // as well as the newest. Refused like a bad signature, before anything is touched.
    const Release offered{manifest.numbered, manifest.release};
    const Release record = ReadReleaseRecord();
    if (!ReleaseAcceptable(offered, record)) {
        Status(kOlderRelease, 100);
        Finish();
        return;
    }

    // Two entries for one file would leave it wrong and fetch it at every start; an entry named
    // like another's temporary file would be cut off by that download. Nothing is touched yet.
    if (NamesClash(entries)) {
        Status(kInvalidEntry, 100);
        Finish();
        return;
    }

    bool ultraPresent = Exists(gFolder + L"DataUltra");
    CheckAndDownload(std::move(entries), ultraPresent, offered, record);
}

}  // namespace

DWORD WINAPI Update(void*) {
    try {
        Run();
    } catch (...) {
        // Out of memory, as a signed manifest of millions of tiny entries can bring about: a
        // thread must not take the process down. What the run held is freed by now, so the
        // message and the end of the run can still be had, and Play works as after any refusal.
        gReady = false;
        try {
            Status(kNoMemory, 100);
        } catch (...) {
        }
        Finish();
    }
    return 0;
}

}  // namespace orvantis
