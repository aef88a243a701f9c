#include "transfer/plan.h"

#include "transfer/plan_rule.h"
#include "update/job.h"

namespace orvantis {

void PlanDownloads(Job& job) {
    job.installed.resize(job.files.size(), 0);
    std::vector<const Entry*> needed;
    needed.reserve(job.files.size());
    for (const auto& file : job.files) needed.push_back(&file.first);
    job.bytesTotal = PlanWorkItems(needed, job.work);
}

}  // namespace orvantis
