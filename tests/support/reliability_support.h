// Running the real launcher in a game folder, and looking at what it left behind.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "launcher/owned.h"
#include "manifest/entry.h"

namespace orvantis::reliability {

// OrvantisKesh.exe as built beside the test executables; empty when it is not there.
std::wstring BuiltLauncher();

// Copies the built launcher into folder (the launcher's folder is its game folder) and
// starts it there with the given arguments. Null when it could not be started.
OwnedHandle StartLauncher(const std::wstring& folder, const std::wstring& args);

struct Outcome {
    bool exited = false;      // false: still running after the time allowed, and then killed
    DWORD exitCode = 0;
    std::string result;       // orvantis_verify.result, or "(none)"
    std::string lastStatus;   // the last line of the update log without its time stamp
    std::string log;          // the whole update log
};

// Waits up to timeoutMs for the process, kills it when it overstays, and reads its outputs.
Outcome Finish(OwnedHandle& process, const std::wstring& folder, DWORD timeoutMs);

// StartLauncher + Finish with "--yes --verify-only" and any extra arguments.
Outcome VerifyRun(const std::wstring& folder, const std::wstring& extraArgs, DWORD timeoutMs = 180000);

// Every file below folder, by relative path with '\' separators, with its content.
std::map<std::wstring, std::string> ReadTree(const std::wstring& folder);

// Relative paths of leftovers: names ending ".part" or beginning ".orvantis_pack_".
std::vector<std::wstring> Leftovers(const std::wstring& folder);

// The launcher's own files, which are not game files: the executable, log, cache, result, config.
bool IsLauncherFile(const std::wstring& relative);

// Manifest path ('/' separators, UTF-8) as the relative local path ('\' separators).
std::wstring LocalName(const std::string& manifestPath);

// A release of stand-alone files plus, optionally, one pack holding packed files in order.
// Every file is also published as its own object, as the publisher does: a pack is fetched
// whole only when at least 8 of its files are needed (and half its bytes).
struct Release {
    std::vector<Entry> entries;
    std::vector<std::string> objects;  // every object body, named on the origin by its SHA-256; the pack last
    std::map<std::string, std::string> content;  // manifest path -> file content
    std::string packSha;                           // empty without a pack
    std::string manifest;
};
Release MakeRelease(const std::vector<std::pair<std::string, std::string>>& files,
                    const std::vector<std::pair<std::string, std::string>>& packed = {});

// Deterministic bytes for test files.
std::string Bytes(size_t size, uint32_t seed);

}  // namespace orvantis::reliability
