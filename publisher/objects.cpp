#include "publisher/objects.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>

#include "publisher/digest.h"
#include "publisher/path_rules.h"

namespace orvantis {
namespace {

constexpr size_t kChunk = 1 << 20;

bool WriteAll(int fd, const char* data, size_t n) {
    while (n > 0) {
        ssize_t w = write(fd, data, n);
        if (w < 0 && errno == EINTR) continue;
        if (w <= 0) return false;
        data += w;
        n -= size_t(w);
    }
    return true;
}

bool SetDirect(int fd, bool on) {
    int flags = fcntl(fd, F_GETFL);
    return flags >= 0 && fcntl(fd, F_SETFL, on ? flags | O_DIRECT : flags & ~O_DIRECT) == 0;
}

// An object's bytes go past the page cache where their memory and length allow: the build never
// reads them again, and here filling the cache with fresh pages cost three times the system time
// of the writes themselves. The unaligned tail, and every byte on a file system that refuses
// direct writes, goes through the cache as usual.
bool WriteBytes(int fd, const char* data, size_t n) {
    size_t aligned = reinterpret_cast<uintptr_t>(data) % kDirectAlign == 0 ? n - n % kDirectAlign : 0;
    size_t done = 0;
    if (aligned > 0 && SetDirect(fd, true)) {
        while (done < aligned) {
            ssize_t w = write(fd, data + done, aligned - done);
            if (w < 0 && errno == EINTR) continue;
            if (w <= 0) break;  // the rest is written (or fails with its reason) below
            done += size_t(w);
        }
        if (!SetDirect(fd, false)) return false;
    }
    return WriteAll(fd, data + done, n - done);
}

// A temporary file beside target, so that the final rename stays on one file system.
// mkstemp makes it 0600; the web server that publishes it must be able to read it.
int OpenTemporary(const std::string& target, std::string& temporary) {
    size_t slash = target.rfind('/');
    std::string folder = slash == std::string::npos ? "." : target.substr(0, slash);
    std::vector<char> name(folder.begin(), folder.end());
    const char tail[] = "/.incoming-XXXXXX";
    name.insert(name.end(), tail, tail + sizeof tail);
    int fd = mkstemp(name.data());
    if (fd < 0) return -1;
    fchmod(fd, 0644);
    temporary = name.data();
    return fd;
}

// Renames, or removes the temporary file; true when target now holds the data. Objects are not
// flushed one by one (see SyncStore).
bool Finish(int fd, bool ok, const std::string& temporary, const std::string& target) {
    if (close(fd) != 0) ok = false;
    if (ok && rename(temporary.c_str(), target.c_str()) == 0) return true;
    unlink(temporary.c_str());
    return false;
}

}  // namespace

bool ObjectIntact(const std::string& file, uint64_t size, const std::string& sha256, ProgressBar& bar) {
    struct stat st;
    if (stat(file.c_str(), &st) != 0 || !S_ISREG(st.st_mode) || uint64_t(st.st_size) != size) return false;
    int fd = open(file.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    Digest d;
    // Most objects are small: a buffer of their size, not zero-filled, spares the page faults.
    size_t capacity = size_t(size < kChunk ? size + 1 : kChunk);
    std::unique_ptr<char[]> buffer(new char[capacity]);
    uint64_t total = 0;
    bool ok = true;
    for (;;) {
        ssize_t n = read(fd, buffer.get(), capacity);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) ok = false;
        if (n <= 0) break;
        d.Add(buffer.get(), size_t(n));
        total += uint64_t(n);
        ProgressAdd(bar, uint64_t(n));
    }
    close(fd);
    return ok && total == size && d.Hex() == sha256;
}

bool WriteObject(const std::string& filesDir, const std::string& name, const std::vector<Part>& parts,
                 ProgressBar& bar, std::string& error) {
    std::string target = filesDir + "/" + name, temporary;
    int fd = OpenTemporary(target, temporary);
    if (fd < 0) {
        error = filesDir + ": cannot create a file there (" + strerror(errno) + ")";
        return false;
    }
    Digest whole;
    std::vector<char> buffer(kChunk);
    bool ok = true;
    for (const Part& part : parts) {
        FILE* f = fopen(part.location.c_str(), "rb");
        if (!f) {
            error = Printable(part.path) + ": cannot be read (" + strerror(errno) + ")";
            ok = false;
            break;
        }
        // An object of one part is checked by the whole's digest alone.
        const bool single = parts.size() == 1 && part.sha256 == name;
        Digest own;
        uint64_t total = 0;
        size_t n;
        while (ok && (n = fread(buffer.data(), 1, buffer.size(), f)) > 0) {
            if (!single) own.Add(buffer.data(), n);
            whole.Add(buffer.data(), n);
            total += n;
            ProgressAdd(bar, n);
            if (!WriteAll(fd, buffer.data(), n)) {
                error = target + ": cannot be written (" + strerror(errno) + ")";
                ok = false;
            }
        }
        bool readFailed = ferror(f);
        fclose(f);
        if (!ok) break;
        if (readFailed) {
            error = Printable(part.path) + ": cannot be read";
            ok = false;
            break;
        }
        if (total != part.size || (!single && own.Hex() != part.sha256)) {
            error = Printable(part.path) + ": changed while the release was being built; build again";
            ok = false;
            break;
        }
    }
    if (ok && whole.Hex() != name) {
        // A single part was checked by this digest alone: its source changed since it was hashed.
        error = parts.size() == 1 && parts[0].sha256 == name
                    ? Printable(parts[0].path) + ": changed while the release was being built; build again"
                    : name + ": the object's bytes do not match its name; build again";
        ok = false;
    }
    if (!Finish(fd, ok, temporary, target)) {
        if (ok) error = target + ": cannot be written (" + strerror(errno) + ")";
        return false;
    }
    return true;
}

bool WriteObjectBytes(const std::string& filesDir, const std::string& name, const char* data, size_t n,
                      std::string& error) {
    std::string target = filesDir + "/" + name, temporary;
    int fd = OpenTemporary(target, temporary);
    if (fd < 0 || !Finish(fd, WriteBytes(fd, data, n), temporary, target)) {
        error = target + ": cannot be written (" + strerror(errno) + ")";
        return false;
    }
    return true;
}

bool SyncStore(const std::string& filesDir, std::string& error) {
    int fd = open(filesDir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    bool ok = fd >= 0 && syncfs(fd) == 0;
    if (!ok) error = filesDir + ": cannot be flushed to disk (" + strerror(errno) + ")";
    if (fd >= 0) close(fd);
    return ok;
}

bool ReadWholeFile(const std::string& path, std::string& out) {
    FILE* f = fopen(path.c_str(), "rb");
    if (!f) return false;
    out.clear();
    char buffer[65536];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, f)) > 0) out.append(buffer, n);
    bool ok = !ferror(f);
    fclose(f);
    return ok;
}

}  // namespace orvantis
