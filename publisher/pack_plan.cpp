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

}  // namespace

std::vector<std::vector<size_t>> PlanPacks(const std::vector<SourceFile>& files) {
    std::vector<std::vector<size_t>> packs;
    std::vector<size_t> group;
    uint64_t sum = 0;
    // A group too small for the launcher to ever fetch whole stays as stand-alone files; a pack
    // of nothing but empty files cannot be named by a size the launcher accepts.
    auto close = [&](bool last) {
        if (group.size() >= kMinPackFiles && sum > 0) {
            packs.push_back(group);
        } else if (last && !packs.empty() && !group.empty()) {
            uint64_t before = 0;
            for (size_t i : packs.back()) before += files[i].size;
            if (before + sum <= kPackLimit) packs.back().insert(packs.back().end(), group.begin(), group.end());
        }
        group.clear();
        sum = 0;
    };
    for (size_t i = 0; i < files.size(); ++i) {
        const SourceFile& f = files[i];
        if (f.size >= kSmallFile) continue;
        if (!group.empty() && sum + f.size > kPackLimit) close(false);
        group.push_back(i);
        sum += f.size;
        if (group.size() >= kMinPackFiles && EndsPack(f.path)) close(false);
    }
    close(true);
    return packs;
}

}  // namespace orvantis
