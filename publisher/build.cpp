#include "publisher/build.h"

#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <ctime>
#include <cstdio>
#include <filesystem>

#include "manifest/entry.h"
#include "manifest/json.h"
#include "publisher/forecast.h"
#include "publisher/keys.h"
#include "publisher/manifest_text.h"
#include "publisher/objects.h"
#include "publisher/pack_plan.h"
#include "publisher/path_rules.h"
#include "publisher/publish_objects.h"
#include "publisher/published.h"
#include "publisher/walk.h"

namespace orvantis {
namespace {

namespace fs = std::filesystem;

fs::path Resolved(const std::string& path) {
    std::error_code ec;
    fs::path p = fs::weakly_canonical(fs::absolute(path, ec), ec);
    return ec ? fs::path(path).lexically_normal() : p;
}

bool Within(const fs::path& inner, const fs::path& outer) {
    auto rel = inner.lexically_relative(outer);
    return !rel.empty() && *rel.begin() != "..";
}

// Things that would publish what must never be published, or loop the walk into its own output.
void CheckPlaces(const BuildOptions& o, BuildReport& r) {
    fs::path game = Resolved(o.game), origin = Resolved(o.origin), key = Resolved(o.keyPath);
    if (Within(origin, game))
        r.problems.push_back(o.origin + ": the origin folder lies inside the game folder; choose one outside it");
    if (Within(game, origin / "update"))
        r.problems.push_back(o.game + ": the game folder lies inside the origin's update folder");
    if (Within(key, game))
        r.problems.push_back(o.keyPath + ": the private key lies inside the game folder and would be published");
}

// The manifest's entries: each file with its digest, and for packed files their pack's name,
// their offset in it and its size.
std::vector<Entry> ReleaseEntries(const std::vector<SourceFile>& files, const std::vector<std::vector<size_t>>& packs,
                                  const PublishedObjects& objects) {
    std::vector<Entry> entries(files.size());
    for (size_t i = 0; i < files.size(); ++i) {
        entries[i].path = files[i].path;
        entries[i].size = files[i].size;
        entries[i].sha256 = objects.fileHashes[i];
    }
    for (size_t p = 0; p < packs.size(); ++p) {
        uint64_t packSize = 0;
        for (size_t i : packs[p]) packSize += files[i].size;
        uint64_t offset = 0;
        for (size_t i : packs[p]) {
            Entry& e = entries[i];
            e.pack = objects.packHashes[p];
            e.offset = offset;
            e.packSize = packSize;
            offset += e.size;
        }
    }
    return entries;
}

// Launchers keep the highest release number they have accepted and refuse a lower one, so a
// release whose content changes gets a number above the origin's last; a rebuild of the same
// content keeps its number, and so its manifest and signature. The clock makes the number grow
// even when the origin folder is lost. False with the reason in r.problems.
bool ChooseRelease(const BuildOptions& o, const ReleaseField& last, bool sameEntries, BuildReport& r) {
    r.previousRelease = last.valid ? last.value : 0;
    if (o.release > 0) {
        r.release = o.release;
        if (last.valid && o.release <= last.value)
            r.notes.push_back("warning: release " + std::to_string(o.release) +
                              " is not above the origin's current release " + std::to_string(last.value) +
                              "; launchers that have accepted a release above " + std::to_string(o.release) +
                              " refuse this one");
        return true;
    }
    if (last.present && !last.valid) {
        r.problems.push_back(o.origin + "/update/manifest.json: its \"release\" is not one unsigned decimal "
                             "integer; give the number with --release N, above the highest release players have seen");
        return false;
    }
    if (last.valid && sameEntries) {
        r.release = last.value;
        return true;
    }
    if (last.valid && last.value == UINT64_MAX) {
        r.problems.push_back(o.origin + "/update/manifest.json: release " + std::to_string(last.value) +
                             " has no number above it; give one with --release N");
        return false;
    }
    uint64_t now = o.now > 0 ? o.now : uint64_t(time(nullptr));
    r.release = std::max(now, r.previousRelease + 1);
    return true;
}

// Checks the manifest as the launcher will read it, then signs it and puts it in place with its
// signature. False with the reasons in r.problems when nothing was written.
bool WriteManifest(const BuildOptions& o, EVP_PKEY* key, const std::vector<Entry>& entries,
                   const std::string& filesDir, BuildReport& r) {
    // What the origin serves now: its number, and what players who have it will download (when
    // the launcher's reader can read it).
    PublishedPair served;
    bool serving = ReadPublished(o.origin, served);
    std::vector<Entry> before;
    bool previous = serving && Json(served.body).Files(before);
    if (!previous) before.clear();
    if (!ChooseRelease(o, serving ? ReleaseOf(served.body) : ReleaseField(), previous && before == entries, r))
        return false;

    std::string body = ManifestText(entries, r.release);
    std::vector<Entry> read;
    for (const std::string& problem : CheckManifest(body, read)) r.problems.push_back(problem);
    if (r.problems.empty() && read != entries)
        r.problems.push_back("manifest: the launcher's reader would read other entries than were written");
    if (!r.problems.empty()) return false;

    // Objects were renamed into place without a flush each (one per object cost more than all the
    // hashing). One flush of the origin's file system here, before the manifest and its signature,
    // puts every object and its name on disk first, including objects found in place that an
    // earlier, unflushed build wrote: a manifest on disk never names an object that is not. An
    // object an interrupted build left damaged under its final name is never trusted, since an
    // object in place is used only after its bytes hash to its name.
    std::string error;
    if (!SyncStore(filesDir, error)) {
        r.problems.push_back(error);
        return false;
    }

    r.forecast = ForecastText(ForecastRelease(before, entries), !previous, body.size());

    // ECDSA signatures differ at every signing; an unchanged manifest keeps its signature so that
    // a republish without changes leaves the web server's configuration alone.
    bool unchanged = serving && served.body == body && served.hasSig && SignatureValid(key, body, served.sig);
    if (!unchanged) {
        std::string sig = SignHex(key, body);
        if (sig.empty() || !SignatureValid(key, body, sig)) {
            r.problems.push_back(o.keyPath + ": signing failed");
            return false;
        }
        if (!SwitchRelease(o.origin, body, sig, r.notes, error)) {
            r.problems.push_back(error);
            return false;
        }
    }
    r.manifestChanged = !unchanged;
    return true;
}

}  // namespace

BuildReport BuildRelease(const BuildOptions& o) {
    auto start = std::chrono::steady_clock::now();
    BuildReport r;
    std::string error;
    PKey key = LoadPrivateKey(o.keyPath, error);
    if (!key) r.problems.push_back(error);
    CheckPlaces(o, r);
    if (!r.problems.empty()) return r;

    Walk walk = WalkGame(o.game);
    for (const std::string& note : walk.leftOut) r.notes.push_back("left out " + note);
    if (!walk.problems.empty()) {
        r.problems = walk.problems;
        return r;
    }
    struct stat st;
    if (stat((o.game + "/Main.exe").c_str(), &st) != 0 || stat((o.game + "/Data").c_str(), &st) != 0)
        r.notes.push_back("warning: no Main.exe or no Data folder; the launcher will take every install for a "
                          "first install and cannot start the game");

    std::vector<std::vector<size_t>> packs = PlanPacks(walk.files);
    std::vector<int> packOf(walk.files.size(), -1);
    for (size_t p = 0; p < packs.size(); ++p)
        for (size_t i : packs[p]) packOf[i] = int(p);

    std::error_code ec;
    std::string filesDir = o.origin + "/update/files";
    fs::create_directories(filesDir, ec);
    if (ec) {
        r.problems.push_back(filesDir + ": cannot be created (" + ec.message() + ")");
        return r;
    }
    int lock = -1;
    if (!LockOrigin(o.origin, lock, error)) {
        r.problems.push_back(error);
        return r;
    }
    struct Unlock {
        int fd;
        ~Unlock() { UnlockOrigin(fd); }
    } unlock{lock};

    ProgressBar bar;
    uint64_t total = 0;
    for (const SourceFile& f : walk.files) total += f.size;
    ProgressBegin(bar, "Publishing", total, o.progress);
    PublishedObjects objects = PublishObjects(walk.files, packs, packOf, filesDir, o.inFlight, bar);
    ProgressEnd(bar);
    r.objectsWritten = objects.written;
    r.objectsPresent = objects.present;
    r.bytesWritten = objects.bytesWritten;
    if (!objects.problem.empty()) {
        r.problems.push_back(objects.problem);
        return r;
    }

    if (!WriteManifest(o, key.get(), ReleaseEntries(walk.files, packs, objects), filesDir, r)) return r;
    std::vector<std::string> paths;
    for (const SourceFile& f : walk.files) paths.push_back(f.path);
    r.longestPath = LongestPathText(paths);
    r.files = walk.files.size();
    r.packs = packs.size();
    for (const auto& p : packs) r.packedFiles += p.size();
    r.bytes = total;
    r.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    return r;
}

std::string BuildSummary(const BuildReport& r) {
    char text[512];
    const double mib = 1048576.0;
    snprintf(text, sizeof text,
             "Files: %zu (%.1f MiB), %zu of them also in %zu packs\n"
             "Objects: %zu written (%.1f MiB), %zu already in place\n"
             "Manifest: %s\n",
             r.files, double(r.bytes) / mib, r.packedFiles, r.packs, r.objectsWritten, double(r.bytesWritten) / mib,
             r.objectsPresent, r.manifestChanged ? "written and signed" : "unchanged, signature kept");
    std::string release = "Release: " + std::to_string(r.release);
    if (!r.manifestChanged)
        release += ", unchanged\n";
    else if (r.previousRelease > 0)
        release += " (the origin served " + std::to_string(r.previousRelease) + " before)\n";
    else
        release += " (the origin served no numbered release before)\n";
    char time[64];
    snprintf(time, sizeof time, "Time: %.2f s\n", r.seconds);
    return text + release + r.forecast + r.longestPath + time;
}

}  // namespace orvantis
