#include "transfer/plan_rule.h"

#include <map>
#include <string>

namespace orvantis {

uint64_t PlanWorkItems(const std::vector<const Entry*>& needed, std::vector<std::vector<uint64_t>>& work) {
    size_t first = work.size();
    // std::map orders std::string keys byte-wise, which for hex names is hash order.
    std::map<std::string, std::vector<uint64_t>> packs;
    for (uint64_t i = 0; i < needed.size(); ++i) {
        const Entry& entry = *needed[i];
        if (entry.pack.empty())
            work.push_back({i});
        else
            packs[entry.pack].push_back(i);
    }

    for (auto& [name, indices] : packs) {
        uint64_t sum = 0;
        for (uint64_t k : indices) sum += needed[k]->size;
        // A whole pack only pays off when enough of it is needed; the pack size of the
        // first needed entry stands for the pack.
        uint64_t packSize = needed[indices.front()]->packSize;
        if (indices.size() <= 7 || 2 * sum < packSize) {
            for (uint64_t k : indices) work.push_back({k});
        } else {
            work.push_back(std::move(indices));
        }
    }

    uint64_t bytes = 0;
    for (size_t w = first; w < work.size(); ++w) {
        const Entry& head = *needed[work[w].front()];
        bytes += work[w].size() > 1 ? head.packSize : head.size;
    }
    return bytes;
}

}  // namespace orvantis
