#pragma once

namespace orvantis {

struct Job;

// Turns job.files into work items (stand-alone files first, then packs by name).
void PlanDownloads(Job& job);

}  // namespace orvantis
