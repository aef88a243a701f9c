#include "launcher/verify_result.h"

#include <cstdio>

#include "launcher/constants.h"
#include "launcher/globals.h"

namespace orvantis {

void WriteVerifyResult(bool ready) {
    FILE* f = _wfopen((gFolder + kResultName).c_str(), L"wb");
    if (!f) return;
    fputs(ready ? "ready" : "failed", f);
    fclose(f);
}

}  // namespace orvantis
