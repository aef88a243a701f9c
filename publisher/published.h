// The manifest and its signature as an origin serves them: read as one pair, switched as one.
//
// Each release's pair lives in a folder of its own, update/releases/ID/, written whole before it
// gets that name and never changed afterwards. update/current is a symbolic link to the folder of
// the release being served, and update/manifest.json and update/manifest.json.sig are links
// through it, so that the usual names keep working. A release is switched by one rename of
// update/current: a reader that resolves the links once reads one release's pair, never a mix.
// An origin made by an older build holds the pair as two plain files in update/; it is read as
// it is, and moved into the layout above by the next build before anything changes.
#pragma once

#include <string>
#include <vector>

namespace orvantis {

struct PublishedPair {
    std::string body;
    std::string sig;
    bool hasSig = false;  // false when the origin serves its manifest without a signature file
};

// The pair the origin serves now, both read from the folder update/manifest.json leads to. False
// when there is no manifest.
bool ReadPublished(const std::string& origin, PublishedPair& pair);

// Makes body and sig the pair the origin serves, in one step; until that step the origin serves
// its previous pair (or nothing, the first time). False with error naming the file when the
// switch did not happen. notes receive what could not be tidied up after it.
bool SwitchRelease(const std::string& origin, const std::string& body, const std::string& sig,
                   std::vector<std::string>& notes, std::string& error);

// Keeps other builds out of origin until the process ends or UnlockOrigin; false with error when
// another build holds it. The update folder must exist.
bool LockOrigin(const std::string& origin, int& lockFd, std::string& error);
void UnlockOrigin(int lockFd);

}  // namespace orvantis
