#include "publisher/pack_plan.h"

#include "publisher/digest.h"

namespace orvantis {
namespace {

// Pack ends depend on the path alone, so adding or removing a file changes only the pack it
// falls in: the other packs keep their bytes and names, and players who have them fetch nothing.
bool EndsPack(const std::string& path) {
    std::string h = Sha256Hex(path);
    return std::stoul(h.substr(0, 8), nullptr, 16) % kBoundaryEvery == 0;
}

// A first install leaves DataUltra out, and the launcher takes a pack whole only when enough of
// it is needed: a pack that mixed both kinds would be fetched file by file.
bool IsUltra(const std::string& path) {
    if (path.size() < 10 || path[9] != '/') return false;
    for (size_t i = 0; i < 9; ++i) {
        char c = path[i] >= 'A' && path[i] <= 'Z' ? char(path[i] - 'A' + 'a') : path[i];
        if (c != "dataultra"[i]) return false;
    }
    return true;
}

// Groups the files at indices (ascending) into packs, appended to packs.
void PlanGroup(const std::vector<SourceFile>& files, const std::vector<size_t>& indices,
               std::vector<std::vector<size_t>>& packs) {
    size_t first = packs.size();
    std::vector<size_t> group;
    uint64_t sum = 0;
    // A group too small for the launcher to ever fetch whole stays as stand-alone files; a pack
    // of nothing but empty files cannot be named by a size the launcher accepts.
    auto close = [&](bool last) {
        if (group.size() >= kMinPackFiles && sum > 0) {
            packs.push_back(group);
        } else if (last && packs.size() > first && !group.empty()) {
            uint64_t before = 0;
            for (size_t i : packs.back()) before += files[i].size;
            if (before + sum <= kPackLimit) packs.back().insert(packs.back().end(), group.begin(), group.end());
        }
        group.clear();
        sum = 0;
    };
    for (size_t i : indices) {
        const SourceFile& f = files[i];
        if (!group.empty() && sum + f.size > kPackLimit) close(false);
        group.push_back(i);
        sum += f.size;
        if (group.size() >= kMinPackFiles && EndsPack(f.path)) close(false);
    }
    close(true);
}

}  // namespace

std::vector<std::vector<size_t>> PlanPacks(const std::vector<SourceFile>& files) {
    std::vector<size_t> game, ultra;
    for (size_t i = 0; i < files.size(); ++i)
        if (files[i].size < kSmallFile) (IsUltra(files[i].path) ? ultra : game).push_back(i);
    std::vector<std::vector<size_t>> packs;
    PlanGroup(files, game, packs);
    PlanGroup(files, ultra, packs);
    return packs;
}

}  // namespace orvantis
