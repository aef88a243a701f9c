// The highest release number this game folder has taken, so that an older signed manifest,
// served again, cannot put old files back.
#pragma once

#include <cstdint>

namespace orvantis {

// A release number that may be absent: a manifest's, or the folder record's (the highest
// number accepted so far).
struct Release {
    bool present = false;
    uint64_t number = 0;
};

// Reads gFolder + "orvantis_update.release". No record when the file is missing, or holds
// anything but one decimal number below 2^64.
Release ReadReleaseRecord();

// Whether a signed manifest numbered `offered` may be applied to a folder with this record:
// never below the record, and never unnumbered once there is one.
bool ReleaseAcceptable(const Release& offered, const Release& record);

// Raises the record to the offered number; an unnumbered manifest, or a record at or above the
// number, leaves it as it is. Results not reported: a record that cannot be written only leaves
// the folder as a folder without one.
void RaiseReleaseRecord(const Release& offered, const Release& record);

}  // namespace orvantis
