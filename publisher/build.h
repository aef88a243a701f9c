// The build command: a game folder becomes a signed release in an origin folder.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace orvantis {

struct BuildOptions {
    std::string game;
    std::string origin;
    std::string keyPath;
    bool progress = false;  // draw a progress bar on stderr
    size_t inFlight = size_t(32) << 20;  // bytes of file contents held between reading and writing
    uint64_t release = 0;  // the release number by hand; 0: chosen by the build
    uint64_t now = 0;      // seconds since 1970 UTC for the release number; 0: the clock
};

struct BuildReport {
    std::vector<std::string> problems;  // any one means nothing was published
    std::vector<std::string> notes;     // left-out files and warnings
    size_t files = 0;
    size_t packs = 0;
    size_t packedFiles = 0;
    size_t objectsWritten = 0;
    size_t objectsPresent = 0;
    uint64_t bytes = 0;         // of the game's files
    uint64_t bytesWritten = 0;  // into the object store
    bool manifestChanged = false;
    uint64_t release = 0;          // the manifest's release number
    uint64_t previousRelease = 0;  // the number of the manifest the origin served before; 0: none
    std::string forecast;     // ForecastText: what players download from the new release
    std::string longestPath;  // LongestPathText of the release's files
    double seconds = 0;
};

// Objects first, then the manifest and its signature, switched in as one pair, so that a launcher
// never reads a manifest whose objects are not all there, nor a manifest with another's
// signature. On any problem the origin serves the pair it served before.
//
// The manifest's release number: the one the origin serves when the entries are the same (the
// manifest then stays byte for byte), otherwise the larger of the clock and that number plus one,
// or options.release when given.
BuildReport BuildRelease(const BuildOptions& options);

// The summary lines printed after a build.
std::string BuildSummary(const BuildReport& report);

}  // namespace orvantis
