#include "launcher/verify_result.h"

#include <cstdio>

#include "launcher/constants.h"
#include "launcher/globals.h"
#include "launcher/own_names.h"

namespace orvantis {

void WriteVerifyResult(bool ready) {
    // Written just before the launcher quits: a scanner still looking at the file of the run
    // before must not cost a script its answer.
    FILE* f = OpenOwnFile(gFolder + kResultName, false);
    if (!f) return;
    fputs(ready ? "ready" : "failed", f);
    fclose(f);
}

// Removed as a name: a link planted there goes, what it points to stays.
void RemoveVerifyResult() { ClearName(gFolder + kResultName); }

}  // namespace orvantis
