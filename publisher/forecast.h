// What players will download from a release, by the launcher's own planning rule.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "manifest/entry.h"

namespace orvantis {

// The requests of one launcher run, besides the manifest's own.
struct Downloads {
    size_t files = 0;        // files the launcher finds missing or different
    size_t packs = 0;        // requests for whole packs
    size_t standAlone = 0;   // requests for files' own objects
    uint64_t bytes = 0;      // bytes of all those requests
    size_t Requests() const { return packs + standAlone; }
};

struct Forecast {
    size_t changed = 0;  // paths in both releases whose size or digest differ
    size_t added = 0;
    size_t removed = 0;
    Downloads update;           // a player with the whole previous release but DataUltra
    Downloads updateWithUltra;  // the same player with the DataUltra folder
    Downloads firstInstall;     // an empty folder: every file but DataUltra's
    bool ultra = false;         // the release has DataUltra entries
};

// The files a launcher fetches for entries, given what the player's folder holds (the entries of
// an earlier release, or nothing) and whether it has a DataUltra folder; skipped as the launcher
// skips them: its own executable, and DataUltra's content in a folder without one.
Downloads PlanFor(const std::vector<Entry>& entries, const std::vector<Entry>& held, bool ultraFolder);

Forecast ForecastRelease(const std::vector<Entry>& previous, const std::vector<Entry>& entries);

// Lines for an operator: the update from previous (unless firstOnly), the first install, and
// the manifest every run fetches (manifestBytes).
std::string ForecastText(const Forecast& forecast, bool firstOnly, uint64_t manifestBytes);

}  // namespace orvantis
