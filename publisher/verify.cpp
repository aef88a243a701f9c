#include "publisher/verify.h"

#include <sys/stat.h>

#include <cstdio>
#include <map>
#include <vector>

#include "manifest/entry.h"
#include "publisher/digest.h"
#include "publisher/keys.h"
#include "publisher/manifest_text.h"
#include "publisher/objects.h"
#include "publisher/path_rules.h"
#include "publisher/published.h"

namespace orvantis {
namespace {

bool IsHexDigits(const std::string& text) {
    for (char c : text)
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'))) return false;
    return true;
}

// SHA-256 of size bytes at offset of an open file; false when they cannot all be read.
bool RangeSha256(FILE* f, uint64_t offset, uint64_t size, std::string& hex) {
    if (fseeko(f, off_t(offset), SEEK_SET) != 0) return false;
    Digest d;
    std::vector<char> buffer(1 << 20);
    while (size > 0) {
        size_t want = size < buffer.size() ? size_t(size) : buffer.size();
        if (fread(buffer.data(), 1, want, f) != want) return false;
        d.Add(buffer.data(), want);
        size -= want;
    }
    hex = d.Hex();
    return true;
}

void CheckSignature(const VerifyOptions& o, const PublishedPair& pair, VerifyReport& r) {
    std::string error;
    PKey key = o.publicHex.empty() ? LoadPrivateKey(o.keyPath, error) : PublicKeyFromHex(o.publicHex, error);
    if (!key) {
        r.problems.push_back(error);
        return;
    }
    if (!pair.hasSig) {
        r.problems.push_back("manifest.json.sig: missing");
        return;
    }
    // The header carries the file as it is: a line end or a blank would break it for the launcher.
    if (pair.sig.size() != 128 || !IsHexDigits(pair.sig)) {
        r.problems.push_back("manifest.json.sig: must be exactly 128 hex digits and nothing else (it has " +
                             std::to_string(pair.sig.size()) + " bytes)");
        return;
    }
    if (!SignatureValid(key.get(), pair.body, pair.sig))
        r.problems.push_back("manifest.json.sig: not a valid signature of manifest.json by this key");
}

void CheckStandAlone(const std::string& filesDir, const std::vector<Entry>& entries, ProgressBar& bar,
                     VerifyReport& r) {
    std::map<std::string, const Entry*> objects;
    for (const Entry& e : entries) {
        if (!IsObjectName(e.sha256)) continue;
        auto [it, fresh] = objects.emplace(e.sha256, &e);
        if (!fresh && it->second->size != e.size)
            r.problems.push_back(Printable(e.path) + ": same sha256 as " + Printable(it->second->path) +
                                 " but another size");
    }
    for (const auto& [name, e] : objects) {
        ++r.objects;
        struct stat st;
        std::string file = filesDir + "/" + name;
        if (stat(file.c_str(), &st) != 0)
            r.problems.push_back("files/" + name + ": missing (the object of " + Printable(e->path) + ")");
        else if (!ObjectIntact(file, e->size, name, bar))
            r.problems.push_back("files/" + name + ": its bytes are not those of " + Printable(e->path) +
                                 " (wrong size or hash)");
    }
}

void CheckPacks(const std::string& filesDir, const std::vector<Entry>& entries, ProgressBar& bar, VerifyReport& r) {
    std::map<std::string, std::vector<const Entry*>> packs;
    for (const Entry& e : entries)
        if (!e.pack.empty() && IsObjectName(e.pack)) packs[e.pack].push_back(&e);
    for (const auto& [name, members] : packs) {
        ++r.packs;
        std::string file = filesDir + "/" + name;
        struct stat st;
        if (stat(file.c_str(), &st) != 0) {
            r.problems.push_back("files/" + name + ": missing (a pack of " + std::to_string(members.size()) +
                                 " files)");
            continue;
        }
        uint64_t actual = uint64_t(st.st_size);
        if (!ObjectIntact(file, actual, name, bar))
            r.problems.push_back("files/" + name + ": the pack's bytes do not hash to its name");
        FILE* f = fopen(file.c_str(), "rb");
        for (const Entry* e : members) {
            if (e->packSize != actual) {
                r.problems.push_back(Printable(e->path) + ": packSize " + std::to_string(e->packSize) +
                                     ", but the pack has " + std::to_string(actual) + " bytes");
                continue;
            }
            std::string hex;
            if (e->offset > actual || actual - e->offset < e->size) {
                r.problems.push_back(Printable(e->path) + ": its range lies outside the pack");
            } else if (!f || !RangeSha256(f, e->offset, e->size, hex) || hex != e->sha256) {
                r.problems.push_back(Printable(e->path) + ": the pack's bytes at offset " + std::to_string(e->offset) +
                                     " are not this file");
            }
        }
        if (f) fclose(f);
    }
}

}  // namespace

VerifyReport VerifyRelease(const VerifyOptions& o) {
    VerifyReport r;
    PublishedPair pair;
    if (!ReadPublished(o.origin, pair)) {
        r.problems.push_back("manifest.json: missing in " + o.origin + "/update");
        return r;
    }
    CheckSignature(o, pair, r);
    r.release = ReleaseOf(pair.body);
    if (r.release.present && !r.release.valid)
        r.problems.push_back("manifest.json: its \"release\" is not one unsigned decimal integer");
    std::vector<Entry> entries;
    for (const std::string& problem : CheckManifest(pair.body, entries)) r.problems.push_back(problem);
    r.entries = entries.size();
    if (entries.empty()) return r;
    std::vector<std::string> paths;
    for (const Entry& e : entries) paths.push_back(e.path);
    r.longestPath = LongestPathText(paths);

    std::string filesDir = o.origin + "/update/files";
    ProgressBar bar;
    uint64_t total = 0;
    for (const Entry& e : entries) total += e.size + (e.pack.empty() ? 0 : e.size);
    ProgressBegin(bar, "Checking", total, o.progress);
    CheckStandAlone(filesDir, entries, bar, r);
    CheckPacks(filesDir, entries, bar, r);
    ProgressEnd(bar);
    return r;
}

}  // namespace orvantis
