#include "publisher/build.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <map>
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

// Files up to this size are read once into memory: hashed, and written from the very bytes that
// were hashed. Larger ones are hashed first and read again only when their object is missing.
constexpr uint64_t kHeldFile = 16ull << 20;

// Reads exactly size bytes of location into out; false when it cannot be read or has another size.
bool ReadExactly(const std::string& location, uint64_t size, std::vector<char>& out, bool& otherSize) {
    otherSize = false;
    int fd = open(location.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    if (out.size() < size + 1) out.resize(size_t(size) + 1);
    uint64_t total = 0;
    bool ok = true;
    // One byte more than expected is asked for, so that a file that grew is noticed.
    while (total <= size) {
        ssize_t n = read(fd, out.data() + total, size_t(size + 1 - total));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) ok = false;
        if (n <= 0) break;
        total += uint64_t(n);
    }
    close(fd);
    otherSize = ok && total != size;
    return ok && total == size;
}

bool StreamedSha256(const std::string& location, uint64_t size, std::vector<char>& buffer, std::string& hex,
                    bool& otherSize, ProgressBar& bar) {
    otherSize = false;
    FILE* in = fopen(location.c_str(), "rb");
    if (!in) return false;
    if (buffer.size() < (1u << 20)) buffer.resize(1u << 20);
    Digest own;
    uint64_t total = 0;
    size_t n;
    while ((n = fread(buffer.data(), 1, 1u << 20, in)) > 0) {
        own.Add(buffer.data(), n);
        total += n;
        ProgressAdd(bar, n);
    }
    bool failed = ferror(in);
    fclose(in);
    if (failed) return false;
    otherSize = total != size;
    hex = own.Hex();
    return !otherSize;
}

struct Store {
    std::string filesDir;
    std::set<std::string> stored;
    BuildReport* r = nullptr;
    ProgressBar quiet;  // checks of objects already present are not the build's progress
};

// An object already in the store is trusted only once its bytes hash to its name: an earlier
// build that was interrupted may have left a damaged one there, as objects are not flushed one
// by one. write puts the object in place when it is missing or damaged.
template <typename Write>
bool StoreObject(Store& s, const std::string& name, uint64_t size, Write write) {
    if (!s.stored.insert(name).second) return true;
    std::string file = s.filesDir + "/" + name;
    struct stat st;
    if (stat(file.c_str(), &st) == 0 && S_ISREG(st.st_mode) && uint64_t(st.st_size) == size &&
        ObjectIntact(file, size, name, s.quiet)) {
        ++s.r->objectsPresent;
        return true;
    }
    std::string error;
    if (!write(error)) {
        s.r->problems.push_back(error);
        return false;
    }
    ++s.r->objectsWritten;
    s.r->bytesWritten += size;
    return true;
}

// One pass over the game: every file is read once, hashed once for itself and once more for the
// pack it travels in, and its object and its pack's object are written from the bytes that were
// hashed, so a source changed meanwhile can never reach the store under a name that is not its.
bool PublishObjects(const Walk& walk, const std::vector<std::vector<size_t>>& packs,
                    const std::vector<int>& packOf, std::vector<std::string>& fileHashes,
                    std::vector<std::string>& packHashes, Store& s, ProgressBar& bar, BuildReport& r) {
    std::vector<size_t> left(packs.size());
    for (size_t p = 0; p < packs.size(); ++p) left[p] = packs[p].size();
    packHashes.assign(packs.size(), std::string());
    fileHashes.assign(walk.files.size(), std::string());
    std::map<size_t, std::unique_ptr<Digest>> packDigests;
    std::map<size_t, std::string> packBytes;  // at most 16 MiB each; packs hold neighbouring files
    std::vector<char> held;
    for (size_t i = 0; i < walk.files.size(); ++i) {
        const SourceFile& f = walk.files[i];
        bool otherSize = false;
        if (f.size <= kHeldFile) {
            if (!ReadExactly(f.location, f.size, held, otherSize)) {
                r.problems.push_back(Printable(f.path) + (otherSize ? ": changed while the release was being built; build again"
                                                                    : ": cannot be read"));
                return false;
            }
            ProgressAdd(bar, f.size);
            Digest own;
            own.Add(held.data(), size_t(f.size));
            fileHashes[i] = own.Hex();
            const char* data = held.data();
            size_t n = size_t(f.size);
            if (!StoreObject(s, fileHashes[i], f.size, [&](std::string& error) {
                    return WriteObjectBytes(s.filesDir, fileHashes[i], data, n, error);
                }))
                return false;
            if (packOf[i] >= 0) {
                size_t p = size_t(packOf[i]);
                auto& digest = packDigests[p];
                if (!digest) digest = std::make_unique<Digest>();
                digest->Add(data, n);
                packBytes[p].append(data, n);
            }
        } else {
            if (!StreamedSha256(f.location, f.size, held, fileHashes[i], otherSize, bar)) {
                r.problems.push_back(Printable(f.path) + (otherSize ? ": changed while the release was being built; build again"
                                                                    : ": cannot be read"));
                return false;
            }
            std::vector<Part> parts{{f.path, f.location, f.size, fileHashes[i]}};
            if (!StoreObject(s, fileHashes[i], f.size, [&](std::string& error) {
                    return WriteObject(s.filesDir, fileHashes[i], parts, s.quiet, error);
                }))
                return false;
        }
        if (packOf[i] >= 0 && --left[size_t(packOf[i])] == 0) {
            size_t p = size_t(packOf[i]);
            packHashes[p] = packDigests[p]->Hex();
            const std::string& bytes = packBytes[p];
            if (!StoreObject(s, packHashes[p], bytes.size(), [&](std::string& error) {
                    return WriteObjectBytes(s.filesDir, packHashes[p], bytes.data(), bytes.size(), error);
                }))
                return false;
            packDigests.erase(p);
            packBytes.erase(p);
        }
    }
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
    std::string updateDir = o.origin + "/update", filesDir = updateDir + "/files";
    fs::create_directories(filesDir, ec);
    if (ec) {
        r.problems.push_back(filesDir + ": cannot be created (" + ec.message() + ")");
        return r;
    }
    ProgressBar bar;
    uint64_t total = 0;
    for (const SourceFile& f : walk.files) total += f.size;
    std::vector<std::string> fileHashes, packHashes;
    Store store;
    store.filesDir = filesDir;
    store.r = &r;
    ProgressBegin(bar, "Publishing", total, o.progress);
    bool published = PublishObjects(walk, packs, packOf, fileHashes, packHashes, store, bar, r);
    ProgressEnd(bar);
    if (!published) return r;

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
    if (r.problems.empty() && read != entries)
        r.problems.push_back("manifest: the launcher's reader would read other entries than were written");
    if (!r.problems.empty()) return r;

    // Objects were renamed into place without a flush each (one per object cost more than all the
    // hashing). One flush of the origin's file system here, before the manifest and its signature,
    // puts every object and its name on disk first, including objects found in place that an
    // earlier, unflushed build wrote: a manifest on disk never names an object that is not. An
    // object an interrupted build left damaged under its final name is never trusted, since an
    // object in place is used only after its bytes hash to its name.
    if (!SyncStore(filesDir, error)) {
        r.problems.push_back(error);
        return r;
    }

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
