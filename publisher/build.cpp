#include "publisher/build.h"

#include <sys/stat.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <set>

#include "manifest/entry.h"
#include "publisher/digest.h"
#include "publisher/keys.h"
#include "publisher/manifest_text.h"
#include "publisher/objects.h"
#include "publisher/pack_plan.h"
#include "publisher/path_rules.h"
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

// Reads every file once: its own digest, and the digest of the pack it travels in.
bool HashFiles(const Walk& walk, const std::vector<int>& packOf, std::vector<std::string>& fileHashes,
               std::vector<std::string>& packHashes, size_t packCount, ProgressBar& bar, BuildReport& r) {
    std::vector<std::unique_ptr<Digest>> packDigests;
    for (size_t i = 0; i < packCount; ++i) packDigests.push_back(std::make_unique<Digest>());
    std::vector<char> buffer(1 << 20);
    fileHashes.resize(walk.files.size());
    for (size_t i = 0; i < walk.files.size(); ++i) {
        const SourceFile& f = walk.files[i];
        FILE* in = fopen(f.location.c_str(), "rb");
        if (!in) {
            r.problems.push_back(Printable(f.path) + ": cannot be read");
            return false;
        }
        Digest own;
        uint64_t total = 0;
        size_t n;
        while ((n = fread(buffer.data(), 1, buffer.size(), in)) > 0) {
            own.Add(buffer.data(), n);
            if (packOf[i] >= 0) packDigests[size_t(packOf[i])]->Add(buffer.data(), n);
            total += n;
            ProgressAdd(bar, n);
        }
        bool failed = ferror(in);
        fclose(in);
        if (failed) {
            r.problems.push_back(Printable(f.path) + ": cannot be read");
            return false;
        }
        if (total != f.size) {
            r.problems.push_back(Printable(f.path) + ": changed while the release was being built; build again");
            return false;
        }
        fileHashes[i] = own.Hex();
    }
    for (auto& d : packDigests) packHashes.push_back(d->Hex());
    return true;
}

bool SameEntries(const std::vector<Entry>& a, const std::vector<Entry>& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (a[i].path != b[i].path || a[i].size != b[i].size || a[i].sha256 != b[i].sha256 ||
            a[i].pack != b[i].pack || a[i].offset != b[i].offset || a[i].packSize != b[i].packSize)
            return false;
    return true;
}

void Store(const std::string& filesDir, const std::string& name, uint64_t size, const std::vector<Part>& parts,
           ProgressBar& bar, BuildReport& r) {
    if (ObjectIntact(filesDir + "/" + name, size, name, bar)) {
        ++r.objectsPresent;
        return;
    }
    std::string error;
    if (!WriteObject(filesDir, name, parts, bar, error)) {
        r.problems.push_back(error);
        return;
    }
    ++r.objectsWritten;
    r.bytesWritten += size;
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

    ProgressBar bar;
    uint64_t total = 0;
    for (const SourceFile& f : walk.files) total += f.size;
    std::vector<std::string> fileHashes, packHashes;
    ProgressBegin(bar, "Hashing", total, o.progress);
    bool hashed = HashFiles(walk, packOf, fileHashes, packHashes, packs.size(), bar, r);
    ProgressEnd(bar);
    if (!hashed) return r;

    std::vector<Entry> entries(walk.files.size());
    std::vector<uint64_t> packSizes(packs.size(), 0);
    for (size_t p = 0; p < packs.size(); ++p)
        for (size_t i : packs[p]) packSizes[p] += walk.files[i].size;
    std::vector<uint64_t> packFill(packs.size(), 0);
    for (size_t i = 0; i < walk.files.size(); ++i) {
        Entry& e = entries[i];
        e.path = walk.files[i].path;
        e.size = walk.files[i].size;
        e.sha256 = fileHashes[i];
        if (packOf[i] >= 0) {
            size_t p = size_t(packOf[i]);
            e.pack = packHashes[p];
            e.offset = packFill[p];
            e.packSize = packSizes[p];
            packFill[p] += e.size;
        }
    }
    std::string body = ManifestText(entries);
    std::vector<Entry> read;
    for (const std::string& problem : CheckManifest(body, read)) r.problems.push_back(problem);
    if (r.problems.empty() && !SameEntries(read, entries))
        r.problems.push_back("manifest: the launcher's reader would read other entries than were written");
    if (!r.problems.empty()) return r;

    std::error_code ec;
    std::string updateDir = o.origin + "/update", filesDir = updateDir + "/files";
    fs::create_directories(filesDir, ec);
    if (ec) {
        r.problems.push_back(filesDir + ": cannot be created (" + ec.message() + ")");
        return r;
    }
    uint64_t packed = 0;
    for (uint64_t size : packSizes) packed += size;
    ProgressBegin(bar, "Writing", total + packed, o.progress);
    std::set<std::string> stored;
    for (size_t i = 0; i < walk.files.size() && r.problems.empty(); ++i) {
        if (!stored.insert(fileHashes[i]).second) continue;
        const SourceFile& f = walk.files[i];
        Store(filesDir, fileHashes[i], f.size, {{f.path, f.location, f.size, fileHashes[i]}}, bar, r);
    }
    for (size_t p = 0; p < packs.size() && r.problems.empty(); ++p) {
        if (!stored.insert(packHashes[p]).second) continue;
        std::vector<Part> parts;
        for (size_t i : packs[p]) {
            const SourceFile& f = walk.files[i];
            parts.push_back({f.path, f.location, f.size, fileHashes[i]});
        }
        Store(filesDir, packHashes[p], packSizes[p], parts, bar, r);
    }
    ProgressEnd(bar);
    if (!r.problems.empty()) return r;

    // ECDSA signatures differ at every signing; an unchanged manifest keeps its signature so that
    // a republish without changes leaves the web server's configuration alone.
    std::string manifestPath = updateDir + "/manifest.json", sigPath = manifestPath + ".sig";
    std::string oldBody, oldSig;
    bool unchanged = ReadWholeFile(manifestPath, oldBody) && oldBody == body && ReadWholeFile(sigPath, oldSig) &&
                     SignatureValid(key.get(), body, oldSig);
    if (!unchanged) {
        std::string sig = SignHex(key.get(), body);
        if (sig.empty() || !SignatureValid(key.get(), body, sig)) {
            r.problems.push_back(o.keyPath + ": signing failed");
            return r;
        }
        if (!WriteFileAtomically(manifestPath, body, error) || !WriteFileAtomically(sigPath, sig, error)) {
            r.problems.push_back(error);
            return r;
        }
    }

    r.manifestChanged = !unchanged;
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
             "Manifest: %s\n"
             "Time: %.2f s\n",
             r.files, double(r.bytes) / mib, r.packedFiles, r.packs, r.objectsWritten, double(r.bytesWritten) / mib,
             r.objectsPresent, r.manifestChanged ? "written and signed" : "unchanged, signature kept", r.seconds);
    return text;
}

}  // namespace orvantis
