// The one-word outcome of a verify-only run, for scripts.
#pragma once

namespace orvantis {

// Writes "ready" or "failed" (no line end) to gFolder + "orvantis_verify.result", replacing
// what was there; a file that cannot be created is skipped silently.
void WriteVerifyResult(bool ready);

// Removes the result of an earlier run, so that a run that ends without writing one (its window
// closed first) leaves no answer a script could take for this run's.
void RemoveVerifyResult();

}  // namespace orvantis
