#include "publisher/manifest_text.h"

#include "manifest/json.h"
#include "publisher/digest.h"
#include "publisher/path_rules.h"
#include "publisher/pack_plan.h"
#include "publisher/walk.h"

namespace orvantis {

std::string ManifestText(const std::vector<Entry>& entries, uint64_t release) {
    std::string out = "{";
    if (release > 0) out += "\"release\":" + std::to_string(release) + ",";
    out += "\"files\":[\n";
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

namespace {

bool IsJsonSpace(char c) { return c == ' ' || (c >= 0x09 && c <= 0x0D); }

void SkipSpace(Json& json) {
    while (json.pos < json.text.size() && IsJsonSpace(json.text[json.pos])) ++json.pos;
}

bool Take(Json& json, char c) {
    SkipSpace(json);
    if (json.pos >= json.text.size() || json.text[json.pos] != c) return false;
    ++json.pos;
    return true;
}

// Digits only, as the launcher's reader takes its numbers, but without its wrap past 64 bits.
bool Unsigned(Json& json, uint64_t& value) {
    SkipSpace(json);
    size_t start = json.pos;
    value = 0;
    for (; json.pos < json.text.size() && json.text[json.pos] >= '0' && json.text[json.pos] <= '9'; ++json.pos) {
        uint64_t digit = uint64_t(json.text[json.pos] - '0');
        if (value > (UINT64_MAX - digit) / 10) return false;
        value = value * 10 + digit;
    }
    if (json.pos == start) return false;
    size_t after = json.pos;
    SkipSpace(json);
    bool ends = json.pos < json.text.size() && (json.text[json.pos] == ',' || json.text[json.pos] == '}');
    json.pos = after;
    return ends;
}

}  // namespace

ReleaseField ReleaseOf(const std::string& body) {
    ReleaseField field;
    Json json(body);
    if (!Take(json, '{')) return field;
    std::string key;
    while (json.String(key) && Take(json, ':')) {
        if (key == "release") {
            uint64_t value = 0;
            bool ok = Unsigned(json, value);
            field.valid = ok && !field.present;
            field.present = true;
            field.value = value;
            if (!ok && !json.Skip()) break;
        } else if (!json.Skip()) {
            break;
        }
        if (!Take(json, ',')) break;
    }
    return field;
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
