#include "publisher/publish_objects.h"

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <condition_variable>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>
#include <unordered_set>

#include "publisher/digest.h"
#include "publisher/objects.h"
#include "publisher/path_rules.h"

namespace orvantis {
namespace {

// Files up to this size are read once into memory: hashed, and written from the very bytes that
// were hashed. Larger ones are hashed first and read again only when their object is missing.
constexpr uint64_t kHeldFile = 16ull << 20;
constexpr size_t kSmallestInFlight = size_t(4) << 20;
// The writers mostly wait for the disk (their writes bypass the page cache), so several keep it
// busy while the reader hashes.
constexpr size_t kWriters = 4;

struct FreeAligned {
    void operator()(char* p) const { free(p); }
};
using AlignedBytes = std::unique_ptr<char[], FreeAligned>;

uint64_t RoundUp(uint64_t n) { return (n + kDirectAlign - 1) / kDirectAlign * kDirectAlign; }

// Aligned so that its object can be written past the page cache; null when memory is short.
AlignedBytes Aligned(uint64_t n) { return AlignedBytes(static_cast<char*>(aligned_alloc(kDirectAlign, RoundUp(n)))); }

// One file's bytes as read and hashed, with one byte of room more (see ReadExactly).
struct Held {
    AlignedBytes bytes;
    uint64_t size = 0;
    std::string sha256;
};

// A file's bytes are shared by the load of its own object and the load of its pack, and stay
// booked against the limit until the last of them lets go (see Booked).
using SharedHeld = std::shared_ptr<const Held>;

// What the reader hands to a writer: one file to be written as its own object, or every file of
// a pack to be put together as the pack's object. Each file is handed on as soon as it is read,
// so that the files of one pack are written by every writer at once rather than by one.
struct Load {
    int pack = -1;  // index into packs, or -1 for one file's object
    std::vector<SharedHeld> files;
    uint64_t size = 0;  // of all files
};

// The queue between the reader and the writers, bounded by the bytes of the files whose loads
// are not all written yet.
struct Pipeline {
    // Set before the writers start and read-only while they run.
    std::string filesDir;
    std::unordered_set<std::string> inStore;  // names in the store when the build began

    std::vector<std::string> packHashes;  // packHashes[p] written by the one writer of pack p

    std::mutex lock;
    std::condition_variable changed;  // a load queued or freed, the reader done, or a failure
    std::deque<Load> queued;
    uint64_t inFlight = 0;  // bytes reserved by the reader and not yet freed by a writer
    uint64_t limit = 0;
    bool readerDone = false;
    bool failed = false;
    std::string problem;                      // the first one
    std::unordered_set<std::string> claimed;  // objects a thread has taken on
};

void Fail(Pipeline& q, const std::string& problem) {
    std::lock_guard<std::mutex> hold(q.lock);
    if (!q.failed) q.problem = problem;
    q.failed = true;
    q.changed.notify_all();
}

// Books n bytes for the reader; false once the build failed. own is what the reader itself
// holds (packs it is still filling): when nothing else is in flight the booking goes through
// even past the limit, so that one load larger than the limit can never wait forever.
bool Reserve(Pipeline& q, uint64_t n, uint64_t own) {
    std::unique_lock<std::mutex> hold(q.lock);
    q.changed.wait(hold, [&] { return q.failed || q.inFlight + n <= q.limit || q.inFlight <= own; });
    if (q.failed) return false;
    q.inFlight += n;
    return true;
}

void Free(Pipeline& q, uint64_t n) {
    std::lock_guard<std::mutex> hold(q.lock);
    q.inFlight -= n;
    q.changed.notify_all();
}

// Held bytes that give their booking back when the last load holding them lets go.
SharedHeld Booked(Pipeline& q, Held&& held) {
    return SharedHeld(new Held(std::move(held)), [&q](const Held* h) {
        uint64_t size = h->size;
        delete h;
        Free(q, size);
    });
}

bool Push(Pipeline& q, Load&& load) {
    std::lock_guard<std::mutex> hold(q.lock);
    if (q.failed) return false;
    q.queued.push_back(std::move(load));
    q.changed.notify_all();
    return true;
}

void ReaderDone(Pipeline& q) {
    std::lock_guard<std::mutex> hold(q.lock);
    q.readerDone = true;
    q.changed.notify_all();
}

// The next load for a writer; false when the reader is done and nothing is left, or the build failed.
bool Pop(Pipeline& q, Load& load) {
    std::unique_lock<std::mutex> hold(q.lock);
    q.changed.wait(hold, [&] { return q.failed || !q.queued.empty() || q.readerDone; });
    if (q.failed || q.queued.empty()) return false;
    load = std::move(q.queued.front());
    q.queued.pop_front();
    return true;
}

struct Tally {
    size_t written = 0;
    size_t present = 0;
    uint64_t bytes = 0;
};

// An object already in the store is trusted only once its bytes hash to its name: an earlier
// build that was interrupted may have left a damaged one there, as objects are not flushed one
// by one. write puts the object in place when it is missing or damaged. Two files with the same
// bytes, or a pack that equals a file, make one object, written by whichever thread came first.
template <typename Write>
bool StoreObject(Pipeline& q, Tally& t, const std::string& name, uint64_t size, Write write) {
    {
        std::lock_guard<std::mutex> hold(q.lock);
        if (!q.claimed.insert(name).second) return true;
    }
    ProgressBar quiet;  // checks of objects already present are not the build's progress
    if (q.inStore.count(name) && ObjectIntact(q.filesDir + "/" + name, size, name, quiet)) {
        ++t.present;
        return true;
    }
    std::string error;
    if (!write(error)) {
        Fail(q, error);
        return false;
    }
    ++t.written;
    t.bytes += size;
    return true;
}

bool StoreBytes(Pipeline& q, Tally& t, const std::string& name, const char* data, uint64_t size) {
    return StoreObject(q, t, name, size, [&](std::string& error) {
        return WriteObjectBytes(q.filesDir, name, data, size_t(size), error);
    });
}

// A pack is put together and hashed here rather than by the reader, so that its second pass over
// the bytes runs on another core than the files' own hashing. scratch is this writer's, reused.
bool StorePack(Pipeline& q, Tally& t, const Load& load, AlignedBytes& scratch, uint64_t& room) {
    if (room < load.size) {
        scratch = Aligned(load.size);
        room = scratch ? load.size : 0;
        if (!scratch) {
            Fail(q, "not enough memory to gather a pack of " + std::to_string(load.size) + " bytes");
            return false;
        }
    }
    Digest digest;
    uint64_t fill = 0;
    for (const SharedHeld& f : load.files) {
        memcpy(scratch.get() + fill, f->bytes.get(), size_t(f->size));
        digest.Add(f->bytes.get(), size_t(f->size));
        fill += f->size;
    }
    std::string name = digest.Hex();
    q.packHashes[size_t(load.pack)] = name;
    return StoreBytes(q, t, name, scratch.get(), load.size);
}

void WriteLoads(Pipeline& q, Tally& t) {
    AlignedBytes scratch;
    uint64_t room = 0;
    Load load;
    while (Pop(q, load)) {
        bool stored = load.pack >= 0 ? StorePack(q, t, load, scratch, room)
                                     : StoreBytes(q, t, load.files[0]->sha256, load.files[0]->bytes.get(), load.size);
        if (!stored) return;
        load = Load();
    }
}

// Reads exactly size bytes of location into out; false when it cannot be read or has another
// size. out has room for size + 1 bytes: one more is asked for, so that a file that grew is noticed.
bool ReadExactly(const std::string& location, uint64_t size, char* out, bool& otherSize) {
    otherSize = false;
    int fd = open(location.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    uint64_t total = 0;
    bool ok = true;
    while (total <= size) {
        ssize_t n = read(fd, out + total, size_t(size + 1 - total));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) ok = false;
        if (n <= 0) break;
        total += uint64_t(n);
    }
    close(fd);
    otherSize = ok && total != size;
    return ok && total == size;
}

bool StreamedSha256(const std::string& location, uint64_t size, std::vector<char>& buffer, std::string& hex,
                    bool& otherSize, ProgressBar& bar) {
    otherSize = false;
    FILE* in = fopen(location.c_str(), "rb");
    if (!in) return false;
    if (buffer.size() < (1u << 20)) buffer.resize(1u << 20);
    Digest own;
    uint64_t total = 0;
    size_t n;
    while ((n = fread(buffer.data(), 1, 1u << 20, in)) > 0) {
        own.Add(buffer.data(), n);
        total += n;
        ProgressAdd(bar, n);
    }
    bool failed = ferror(in);
    fclose(in);
    if (failed) return false;
    otherSize = total != size;
    hex = own.Hex();
    return !otherSize;
}

struct Reader {
    Pipeline& q;
    const std::vector<SourceFile>& files;
    const std::vector<std::vector<size_t>>& packs;
    const std::vector<int>& packOf;
    ProgressBar& bar;
    Tally& tally;
    std::vector<std::string>& fileHashes;
    uint64_t heldLimit = 0;
    std::map<int, Load> open;  // packs being filled; the rule lets packs interleave
    uint64_t own = 0;          // their bytes
    std::vector<char> streaming;

    Reader(Pipeline& q, const std::vector<SourceFile>& files, const std::vector<std::vector<size_t>>& packs,
           const std::vector<int>& packOf, ProgressBar& bar, Tally& tally, std::vector<std::string>& fileHashes)
        : q(q), files(files), packs(packs), packOf(packOf), bar(bar), tally(tally), fileHashes(fileHashes),
          heldLimit(std::min(kHeldFile, q.limit / 2)) {}

    bool Unreadable(const SourceFile& f, bool otherSize) {
        Fail(q, Printable(f.path) + (otherSize ? ": changed while the release was being built; build again"
                                               : ": cannot be read"));
        return false;
    }

    // Reads and hashes file i into memory booked against the limit; its objects are written
    // later from those very bytes. Null when the build failed.
    SharedHeld Take(size_t i) {
        const SourceFile& f = files[i];
        if (!Reserve(q, f.size, own)) return nullptr;
        Held held;
        held.size = f.size;
        held.bytes = Aligned(f.size + 1);
        bool otherSize = false;
        bool read = held.bytes && ReadExactly(f.location, f.size, held.bytes.get(), otherSize);
        if (!read) {
            Free(q, f.size);
            if (held.bytes) Unreadable(f, otherSize);
            else Fail(q, Printable(f.path) + ": not enough memory to hold it");
            return nullptr;
        }
        Digest digest;
        digest.Add(held.bytes.get(), size_t(f.size));
        held.sha256 = fileHashes[i] = digest.Hex();
        ProgressAdd(bar, f.size);
        return Booked(q, std::move(held));
    }

    // Hands file i on for its own object, and keeps it for its pack p (-1 for none) until the
    // pack's last file is read.
    bool Hold(size_t i, int p) {
        SharedHeld held = Take(i);
        if (!held || !Push(q, Load{-1, {held}, held->size})) return false;
        if (p < 0) return true;
        Load& pack = open[p];
        pack.pack = p;
        pack.files.push_back(std::move(held));
        pack.size += files[i].size;
        own += files[i].size;
        if (packs[size_t(p)].back() != i) return true;
        own -= pack.size;
        bool pushed = Push(q, std::move(pack));
        open.erase(p);
        return pushed;
    }

    // Too large to hold: hashed in one read, and its object written by a second when missing.
    bool Streamed(size_t i) {
        const SourceFile& f = files[i];
        bool otherSize = false;
        std::string hex;
        if (!StreamedSha256(f.location, f.size, streaming, hex, otherSize, bar)) return Unreadable(f, otherSize);
        fileHashes[i] = hex;
        std::vector<Part> parts{{f.path, f.location, f.size, hex}};
        ProgressBar quiet;
        return StoreObject(q, tally, hex, f.size, [&](std::string& error) {
            return WriteObject(q.filesDir, hex, parts, quiet, error);
        });
    }

    // Every file is read once, hashed once, and handed to the writers; its object and its pack's
    // object are written from the bytes that were hashed, so a source changed meanwhile can never
    // reach the store under a name that is not its.
    void Run() {
        for (size_t i = 0; i < files.size(); ++i) {
            int p = packOf[i];
            bool ok = p >= 0 || files[i].size <= heldLimit ? Hold(i, p) : Streamed(i);
            if (!ok) break;
        }
        ReaderDone(q);
    }
};

std::unordered_set<std::string> ObjectsInStore(const std::string& filesDir) {
    std::unordered_set<std::string> names;
    DIR* d = opendir(filesDir.c_str());
    if (!d) return names;
    while (dirent* e = readdir(d))
        if (IsObjectName(e->d_name)) names.insert(e->d_name);
    closedir(d);
    return names;
}

}  // namespace

PublishedObjects PublishObjects(const std::vector<SourceFile>& files, const std::vector<std::vector<size_t>>& packs,
                                const std::vector<int>& packOf, const std::string& filesDir, size_t inFlight,
                                ProgressBar& bar) {
    PublishedObjects out;
    out.fileHashes.resize(files.size());
    Pipeline q;
    q.filesDir = filesDir;
    q.inStore = ObjectsInStore(filesDir);
    q.packHashes.resize(packs.size());
    q.limit = std::max(inFlight, kSmallestInFlight);

    // The last tally is the reader's.
    Tally tallies[kWriters + 1];
    std::thread writers[kWriters];
    try {
        for (size_t w = 0; w < kWriters; ++w) writers[w] = std::thread(WriteLoads, std::ref(q), std::ref(tallies[w]));
    } catch (const std::system_error& e) {
        Fail(q, std::string("cannot start a writer thread (") + e.what() + ")");
    }
    Reader reader(q, files, packs, packOf, bar, tallies[kWriters], out.fileHashes);
    reader.Run();
    for (std::thread& w : writers)
        if (w.joinable()) w.join();
    // After a failure, loads may be left unwritten: their bytes give their booking back while the
    // pipeline still stands.
    reader.open.clear();
    q.queued.clear();

    out.problem = q.problem;
    out.packHashes = std::move(q.packHashes);
    for (const Tally& t : tallies) {
        out.written += t.written;
        out.present += t.present;
        out.bytesWritten += t.bytes;
    }
    return out;
}

}  // namespace orvantis
