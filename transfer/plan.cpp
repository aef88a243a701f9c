#include "transfer/plan.h"

#include <map>

#include "update/job.h"

namespace orvantis {

void PlanDownloads(Job& job) {
    job.bytesTotal = 0;
    job.installed.resize(job.files.size(), 0);

    // std::map orders std::string keys byte-wise, which for hex names is hash order.
    std::map<std::string, std::vector<uint64_t>> packs;
    for (uint64_t i = 0; i < job.files.size(); ++i) {
        const Entry& entry = job.files[i].first;
        if (entry.pack.empty())
            job.work.push_back({i});
        else
            packs[entry.pack].push_back(i);
    }

    for (auto& [name, indices] : packs) {
        uint64_t sum = 0;
        for (uint64_t k : indices) sum += job.files[k].first.size;
        // A whole pack only pays off when enough of it is needed; the pack size of the
        // first needed entry stands for the pack.
        uint64_t packSize = job.files[indices.front()].first.packSize;
        if (indices.size() <= 7 || 2 * sum < packSize) {
            for (uint64_t k : indices) job.work.push_back({k});
        } else {
            job.work.push_back(std::move(indices));
        }
    }

    for (const auto& item : job.work) {
        const Entry& first = job.files[item.front()].first;
        job.bytesTotal += item.size() > 1 ? first.packSize : first.size;
    }
}

}  // namespace orvantis
