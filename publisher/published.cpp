#include "publisher/published.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "publisher/digest.h"
#include "publisher/objects.h"

namespace orvantis {
namespace {

const char kCurrent[] = "current";
const char kManifest[] = "manifest.json";
const char kSignature[] = "manifest.json.sig";
const char kIncoming[] = ".incoming-";
const char kSwitching[] = ".switching-";

std::string Failed(const std::string& path, const char* what) {
    return path + ": " + what + " (" + strerror(errno) + ")";
}

bool StartsWith(const std::string& text, const char* prefix) { return text.rfind(prefix, 0) == 0; }

std::string LinkTarget(const std::string& path) {
    char target[4096];
    ssize_t n = readlink(path.c_str(), target, sizeof target);
    return n > 0 && size_t(n) < sizeof target ? std::string(target, size_t(n)) : std::string();
}

// A new file that is on disk before it is given a name anyone reads.
bool WriteSynced(const std::string& path, const std::string& data, std::string& error) {
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0) {
        error = Failed(path, "cannot be written");
        return false;
    }
    fchmod(fd, 0644);
    const char* p = data.data();
    size_t left = data.size();
    bool ok = true;
    while (ok && left > 0) {
        ssize_t n = write(fd, p, left);
        if (n < 0 && errno == EINTR) continue;
        ok = n > 0;
        if (ok) p += n, left -= size_t(n);
    }
    ok = ok && fsync(fd) == 0;
    if (!ok) error = Failed(path, "cannot be written");
    if (close(fd) != 0 && ok) {
        error = Failed(path, "cannot be written");
        ok = false;
    }
    return ok;
}

bool SyncFolder(const std::string& path) {
    int fd = open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    bool ok = fd >= 0 && fsync(fd) == 0;
    if (fd >= 0) close(fd);
    return ok;
}

// A release folder holds plain files only.
bool RemoveFolder(const std::string& path) {
    if (DIR* d = opendir(path.c_str())) {
        while (dirent* e = readdir(d))
            if (strcmp(e->d_name, ".") != 0 && strcmp(e->d_name, "..") != 0) unlink((path + "/" + e->d_name).c_str());
        closedir(d);
    }
    return rmdir(path.c_str()) == 0;
}

// The folder of one pair, named after both files: the same pair always lands in the same
// folder, and a folder once named is never written again.
bool StoreRelease(const std::string& releases, const PublishedPair& pair, std::string& id, std::string& error) {
    id = Sha256Hex(pair.body + (pair.hasSig ? "\n" + pair.sig : std::string()));
    std::string target = releases + "/" + id;
    struct stat st;
    if (lstat(target.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) return true;

    std::string incoming = releases + "/" + kIncoming + "XXXXXX";
    if (!mkdtemp(incoming.data())) {
        error = Failed(releases, "cannot create a folder there");
        return false;
    }
    chmod(incoming.c_str(), 0755);
    bool ok = (!pair.hasSig || WriteSynced(incoming + "/" + kSignature, pair.sig, error)) &&
              WriteSynced(incoming + "/" + kManifest, pair.body, error);
    if (ok && (!SyncFolder(incoming) || rename(incoming.c_str(), target.c_str()) != 0)) {
        error = Failed(target, "cannot be put in place");
        ok = false;
    }
    if (!ok) RemoveFolder(incoming);
    return ok && SyncFolder(releases);
}

// Points update/name at target with one rename, so that a reader finds the old link or the new
// one, never none.
bool Relink(const std::string& update, const std::string& name, const std::string& target, std::string& error) {
    std::string fresh = update + "/" + kSwitching + name, place = update + "/" + name;
    unlink(fresh.c_str());
    if (symlink(target.c_str(), fresh.c_str()) != 0) {
        error = Failed(fresh, "cannot be made");
        return false;
    }
    if (rename(fresh.c_str(), place.c_str()) != 0) {
        error = Failed(place, "cannot be replaced");
        unlink(fresh.c_str());
        return false;
    }
    return true;
}

bool IsLink(const std::string& path) {
    struct stat st;
    return lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
}

// The two usual names lead through update/current.
bool LinkedThroughCurrent(const std::string& update) {
    return IsLink(update + "/" + kCurrent) &&
           LinkTarget(update + "/" + kManifest) == std::string(kCurrent) + "/" + kManifest &&
           LinkTarget(update + "/" + kSignature) == std::string(kCurrent) + "/" + kSignature;
}

// The signature's link first: until the manifest's own link appears, nothing is served.
bool LinkNames(const std::string& update, std::string& error) {
    return Relink(update, kSignature, std::string(kCurrent) + "/" + kSignature, error) &&
           Relink(update, kManifest, std::string(kCurrent) + "/" + kManifest, error);
}

// What an interrupted build left: folders not yet named, links not yet switched.
void RemoveLeftovers(const std::string& update, const std::string& releases) {
    for (const std::string& folder : {update, releases}) {
        DIR* d = opendir(folder.c_str());
        if (!d) continue;
        while (dirent* e = readdir(d)) {
            std::string name = e->d_name, path = folder + "/" + name;
            if (folder == releases && StartsWith(name, kIncoming)) RemoveFolder(path);
            if (folder == update && StartsWith(name, kSwitching)) unlink(path.c_str());
        }
        closedir(d);
    }
}

// Every release folder but the one served and the one served before it, which a reader may
// have resolved a moment before the switch.
void RemoveOldReleases(const std::string& releases, const std::string& keep, const std::string& previous,
                       std::vector<std::string>& notes) {
    DIR* d = opendir(releases.c_str());
    if (!d) return;
    std::vector<std::string> old;
    while (dirent* e = readdir(d)) {
        std::string name = e->d_name;
        if (name[0] != '.' && name != keep && name != previous) old.push_back(name);
    }
    closedir(d);
    for (const std::string& name : old)
        if (!RemoveFolder(releases + "/" + name))
            notes.push_back("warning: " + Failed(releases + "/" + name, "an old release could not be removed"));
}

}  // namespace

bool ReadPublished(const std::string& origin, PublishedPair& pair) {
    char* real = realpath((origin + "/update/" + kManifest).c_str(), nullptr);
    if (!real) return false;
    std::string manifest = real;
    free(real);
    if (!ReadWholeFile(manifest, pair.body)) return false;
    pair.hasSig = ReadWholeFile(manifest + ".sig", pair.sig);
    if (!pair.hasSig) pair.sig.clear();
    return true;
}

bool SwitchRelease(const std::string& origin, const std::string& body, const std::string& sig,
                   std::vector<std::string>& notes, std::string& error) {
    std::string update = origin + "/update", releases = update + "/releases";
    if (mkdir(releases.c_str(), 0755) != 0 && errno != EEXIST) {
        error = Failed(releases, "cannot be created");
        return false;
    }
    RemoveLeftovers(update, releases);

    // An origin laid out by an older build first gets its served pair moved into a release
    // folder of its own, and the usual names linked to it: every step serves the same pair.
    PublishedPair served;
    bool serving = ReadPublished(origin, served);
    if (serving && !LinkedThroughCurrent(update)) {
        std::string oldId;
        if (!StoreRelease(releases, served, oldId, error) ||
            !Relink(update, kCurrent, std::string("releases/") + oldId, error) || !LinkNames(update, error))
            return false;
    }

    PublishedPair pair{body, sig, true};
    std::string id;
    if (!StoreRelease(releases, pair, id, error)) return false;
    std::string previous = LinkTarget(update + "/" + kCurrent);
    if (!Relink(update, kCurrent, std::string("releases/") + id, error)) return false;
    if (!serving && !LinkedThroughCurrent(update) && !LinkNames(update, error)) return false;
    if (!SyncFolder(update))
        notes.push_back("warning: " + Failed(update, "the switch to the new release may not be on disk yet"));
    RemoveOldReleases(releases, id, previous.substr(previous.rfind('/') + 1), notes);
    return true;
}

bool LockOrigin(const std::string& origin, int& lockFd, std::string& error) {
    std::string path = origin + "/update/.build.lock";
    lockFd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (lockFd < 0) {
        error = Failed(path, "cannot be opened");
        return false;
    }
    if (flock(lockFd, LOCK_EX | LOCK_NB) != 0) {
        error = origin + ": another build is publishing into this origin; wait for it to end";
        close(lockFd);
        lockFd = -1;
        return false;
    }
    return true;
}

void UnlockOrigin(int lockFd) {
    if (lockFd >= 0) close(lockFd);
}

}  // namespace orvantis
