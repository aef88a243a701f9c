// Download one object, verify its length and SHA-256, and rename it into place.
#pragma once

#include <cstdint>
#include <string>

#include "manifest/entry.h"

namespace orvantis {

struct Http;
struct Job;

// Milliseconds to wait after failed attempts 1..5. Tests shorten them where the
// schedule itself is not under test; the launcher never changes them.
extern uint32_t gRetryWaits[5];

// How one object's fetch ended.
enum class Fetched {
    kInstalled,  // in place at target
    kNotServed,  // every attempt failed on what the servers sent (or did not send); job.error untouched
    kFailed,     // the folder could not take it (job.error says why), or another worker failed
};

// Fetches, verifies and installs one object on the retry schedule.
Fetched FetchObject(Http& files, Http& site, Job& job, const Entry& entry, const std::wstring& target);

// FetchObject, with "No se pudo descargar" in job.error when the servers never gave it.
// True when the object is in place at target; on false, job.error says why (if anything).
bool Fetch(Http& files, Http& site, Job& job, const Entry& entry, const std::wstring& target);

// Creates the folders of target below gFolder.
void CreateFolders(const std::wstring& target);

}  // namespace orvantis
