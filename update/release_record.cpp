#include "update/release_record.h"

#include <cstdio>
#include <string>

#include "launcher/constants.h"
#include "launcher/globals.h"
#include "launcher/held_files.h"
#include "launcher/own_names.h"

namespace orvantis {
namespace {

// Twenty digits hold any 64-bit number; anything longer is no record of ours.
constexpr size_t kMaxRecordBytes = 32;

// A record cut short by a crash, or written by hand, reads as no record: the folder then takes
// any signed manifest, as it did before it had one, rather than refusing every release for ever.
bool ParseRecord(const std::string& text, uint64_t& out) {
    out = 0;
    if (text.empty()) return false;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        uint64_t digit = static_cast<uint64_t>(c - '0');
        if (out > (UINT64_MAX - digit) / 10) return false;
        out = out * 10 + digit;
    }
    return true;
}

}  // namespace

Release ReadReleaseRecord() {
    Release record;
    FILE* f = OpenStreamHeld(gFolder + kReleaseName, L"rb");
    if (!f) return record;
    char buffer[kMaxRecordBytes + 1];
    size_t n = fread(buffer, 1, sizeof buffer, f);
    fclose(f);
    if (n > kMaxRecordBytes) return record;
    record.present = ParseRecord(std::string(buffer, n), record.number);
    return record;
}

bool ReleaseAcceptable(const Release& offered, const Release& record) {
    if (!record.present) return true;
    return offered.present && offered.number >= record.number;
}

void RaiseReleaseRecord(const Release& offered, const Release& record) {
    if (!offered.present || (record.present && record.number >= offered.number)) return;
    FILE* f = OpenOwnFile(gFolder + kReleaseName, false);
    if (!f) return;
    fputs(std::to_string(offered.number).c_str(), f);
    fclose(f);
}

}  // namespace orvantis
