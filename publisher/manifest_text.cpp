#include "publisher/manifest_text.h"

#include "manifest/json.h"
#include "publisher/digest.h"
#include "publisher/path_rules.h"
#include "publisher/pack_plan.h"
#include "publisher/walk.h"

namespace orvantis {

std::string ManifestText(const std::vector<Entry>& entries) {
    std::string out = "{\"files\":[\n";
    for (size_t i = 0; i < entries.size(); ++i) {
        const Entry& e = entries[i];
        out += "{\"path\":\"" + e.path + "\",\"size\":" + std::to_string(e.size) + ",\"sha256\":\"" + e.sha256 + "\"";
        if (!e.pack.empty())
            out += ",\"pack\":\"" + e.pack + "\",\"offset\":" + std::to_string(e.offset) +
                   ",\"packSize\":" + std::to_string(e.packSize);
        out += i + 1 < entries.size() ? "},\n" : "}\n";
    }
    out += "]}\n";
    return out;
}

std::string EntryProblem(const Entry& e) {
    std::string problem = PathProblem(e.path);
    if (!problem.empty()) return problem;
    if (LeftOutReason(e.path)) return "is one of the launcher's own files";
    // The launcher only checks the length, but it compares with lowercase digests byte for byte:
    // any other form can never match and the file would be fetched forever.
    if (!IsObjectName(e.sha256)) return "has a sha256 that is not 64 lowercase hex digits";
    if (e.pack.empty()) return "";
    if (!IsObjectName(e.pack)) return "has a pack name that is not 64 lowercase hex digits";
    if (e.packSize < 1 || e.packSize > kPackLimit) return "has a packSize outside 1 to 16777216";
    if (e.offset > e.packSize || e.packSize - e.offset < e.size) return "lies outside its pack";
    return "";
}

std::vector<std::string> CheckManifest(const std::string& body, std::vector<Entry>& read) {
    std::vector<std::string> problems;
    read.clear();
    if (body.size() > kMaxManifestBytes) {
        problems.push_back("manifest: " + std::to_string(body.size()) + " bytes; the launcher takes at most " +
                           std::to_string(kMaxManifestBytes));
        return problems;
    }
    Json reader(body);
    if (!reader.Files(read)) {
        read.clear();
        problems.push_back("manifest: the launcher's reader cannot read it");
        return problems;
    }
    if (read.empty()) {
        problems.push_back("manifest: lists no files; the launcher treats that as unreadable");
        return problems;
    }
    std::vector<std::string> paths;
    for (const Entry& e : read) {
        std::string problem = EntryProblem(e);
        if (!problem.empty()) problems.push_back(Printable(e.path) + ": " + problem);
        paths.push_back(e.path);
    }
    for (std::string& clash : CaseClashes(paths)) problems.push_back(clash);
    return problems;
}

}  // namespace orvantis
