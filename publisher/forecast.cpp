#include "publisher/forecast.h"

#include <cstdio>
#include <map>

#include "publisher/path_rules.h"
#include "transfer/plan_rule.h"

namespace orvantis {
namespace {

bool SameAsciiName(const std::string& a, const char* b) {
    size_t i = 0;
    for (; i < a.size() && b[i]; ++i) {
        char x = a[i] >= 'A' && a[i] <= 'Z' ? char(a[i] - 'A' + 'a') : a[i];
        char y = b[i] >= 'A' && b[i] <= 'Z' ? char(b[i] - 'A' + 'a') : b[i];
        if (x != y) return false;
    }
    return i == a.size() && !b[i];
}

// The launcher's own tests of an entry's path: both compare ASCII letters in any case.
bool IsLauncher(const std::string& path) { return SameAsciiName(path, "OrvantisKesh.exe"); }
bool IsUltra(const std::string& path) { return SameAsciiName(path.substr(0, 10), "DataUltra/"); }

// Windows finds a file whatever the letter case of the name it is asked for.
std::map<std::string, const Entry*> ByName(const std::vector<Entry>& entries) {
    std::map<std::string, const Entry*> out;
    for (const Entry& e : entries) out[FoldCase(e.path)] = &e;
    return out;
}

std::string Mib(uint64_t bytes) {
    char text[32];
    snprintf(text, sizeof text, "%.1f MiB", double(bytes) / 1048576.0);
    return text;
}

std::string Line(const char* label, const Downloads& d) {
    if (d.files == 0) return std::string(label) + ": nothing to download\n";
    return std::string(label) + ": " + std::to_string(d.files) + " files, " + std::to_string(d.Requests()) +
           " requests (" + std::to_string(d.packs) + " whole packs, " + std::to_string(d.standAlone) +
           " objects), " + std::to_string(d.bytes) + " bytes (" + Mib(d.bytes) + ")\n";
}

}  // namespace

Downloads PlanFor(const std::vector<Entry>& entries, const std::vector<Entry>& held, bool ultraFolder) {
    std::map<std::string, const Entry*> has = ByName(held);
    std::vector<const Entry*> needed;
    for (const Entry& e : entries) {
        if (IsLauncher(e.path) || (!ultraFolder && IsUltra(e.path))) continue;
        auto it = has.find(FoldCase(e.path));
        if (it == has.end() || it->second->size != e.size || it->second->sha256 != e.sha256) needed.push_back(&e);
    }
    std::vector<std::vector<uint64_t>> work;
    Downloads d;
    d.files = needed.size();
    d.bytes = PlanWorkItems(needed, work);
    for (const auto& item : work) (item.size() > 1 ? d.packs : d.standAlone) += 1;
    return d;
}

Forecast ForecastRelease(const std::vector<Entry>& previous, const std::vector<Entry>& entries) {
    Forecast f;
    std::map<std::string, const Entry*> before = ByName(previous), after = ByName(entries);
    for (const auto& [name, e] : after) {
        auto it = before.find(name);
        if (it == before.end())
            ++f.added;
        else if (it->second->size != e->size || it->second->sha256 != e->sha256)
            ++f.changed;
        f.ultra = f.ultra || IsUltra(e->path);
    }
    for (const auto& item : before) f.removed += after.count(item.first) == 0;
    f.update = PlanFor(entries, previous, false);
    f.updateWithUltra = PlanFor(entries, previous, true);
    f.firstInstall = PlanFor(entries, {}, false);
    return f;
}

std::string ForecastText(const Forecast& f, bool firstOnly, uint64_t manifestBytes) {
    std::string out = "What players download, by the launcher's own planning rule:\n";
    if (!firstOnly) {
        out += "Changed: " + std::to_string(f.changed) + " files, added: " + std::to_string(f.added) +
               ", removed: " + std::to_string(f.removed) + "\n";
        out += Line("Update", f.update);
        if (f.ultra) out += Line("Update with DataUltra", f.updateWithUltra);
    }
    out += Line("First install", f.firstInstall);
    out += "Every run also fetches the manifest: 1 request, " + std::to_string(manifestBytes) + " bytes\n";
    return out;
}

}  // namespace orvantis
