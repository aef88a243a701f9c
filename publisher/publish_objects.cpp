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
#include "publisher/pack_plan.h"
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
// Enough pack buffers kept for as many packs as are written at once in the default 32 MiB; their
// memory is taken only as far as packs have filled them.
constexpr size_t kSparePacks = 16;

struct FreeAligned {
    void operator()(char* p) const { free(p); }
};
using AlignedBytes = std::unique_ptr<char[], FreeAligned>;

uint64_t RoundUp(uint64_t n) { return (n + kDirectAlign - 1) / kDirectAlign * kDirectAlign; }

// Aligned so that its object can be written past the page cache; null when memory is short.
AlignedBytes Aligned(uint64_t n) { return AlignedBytes(static_cast<char*>(aligned_alloc(kDirectAlign, RoundUp(n)))); }

// What the reader hands to a writer, owned by whoever holds it: one file's bytes as read, or a
// pack's bytes as gathered from its files. Each file goes on as soon as it is read, so that the
// files of one pack are written by every writer at once; the reader copies and hashes it for its
// pack while the bytes are still in the processor's cache.
struct Load {
    int pack = -1;       // index into packs, or -1 for one file's object
    AlignedBytes bytes;  // with one byte of room more (see ReadExactly)
    uint64_t size = 0;   // as booked against the limit
    std::string sha256;  // of the bytes: the object's name
};

// The queue between the reader and the writers, bounded by the bytes of the loads alive.
struct Pipeline {
    // Set before the writers start and read-only while they run.
    std::string filesDir;
    std::unordered_set<std::string> inStore;  // names in the store when the build began

    std::vector<std::string> packHashes;  // written by the reader

    std::mutex lock;
    std::condition_variable changed;  // a load queued or freed, the reader done, or a failure
    std::deque<Load> queued;
    uint64_t inFlight = 0;  // bytes reserved by the reader and not yet freed by a writer
    uint64_t limit = 0;
    // Pack buffers already written out, for the reader's next packs: fresh memory for each of
    // hundreds of packs cost a page fault every 4 KiB.
    std::vector<AlignedBytes> spare;
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

// Ends a load that has been written: its booking, and its buffer kept when it is a pack's.
void Written(Pipeline& q, Load& load) {
    std::lock_guard<std::mutex> hold(q.lock);
    q.inFlight -= load.size;
    if (load.pack >= 0 && q.spare.size() < kSparePacks) q.spare.push_back(std::move(load.bytes));
    q.changed.notify_all();
}

// A buffer for a pack of n bytes; null when memory is short. Each has room for the largest pack,
// so that any can be used again.
AlignedBytes PackBuffer(Pipeline& q, uint64_t n) {
    {
        std::lock_guard<std::mutex> hold(q.lock);
        if (n <= kPackLimit && !q.spare.empty()) {
            AlignedBytes bytes = std::move(q.spare.back());
            q.spare.pop_back();
            return bytes;
        }
    }
    return Aligned(std::max(n, kPackLimit) + 1);
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

void WriteLoads(Pipeline& q, Tally& t) {
    Load load;
    while (Pop(q, load)) {
        if (!StoreBytes(q, t, load.sha256, load.bytes.get(), load.size)) return;
        Written(q, load);
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
    struct Gathering {  // a pack being filled
        Load load;
        uint64_t fill = 0;
        Digest digest;
    };
    std::map<int, Gathering> open;  // the rule lets packs interleave
    uint64_t own = 0;               // their bytes
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

    // Memory for n bytes (and one more) booked against the limit; null when the build failed.
    AlignedBytes Book(uint64_t n, const std::string& what, bool pack) {
        if (!Reserve(q, n, own)) return nullptr;
        AlignedBytes bytes = pack ? PackBuffer(q, n) : Aligned(n + 1);
        if (!bytes) {
            Free(q, n);
            Fail(q, what + ": not enough memory to hold it");
        }
        return bytes;
    }

    // Reads and hashes file i, hands it on for its own object, and copies it into its pack p
    // (-1 for none), which goes on once its last file is in.
    bool Hold(size_t i, int p) {
        const SourceFile& f = files[i];
        Gathering* pack = p >= 0 ? &open[p] : nullptr;
        if (pack && !pack->load.bytes) {
            pack->load.pack = p;
            for (size_t member : packs[size_t(p)]) pack->load.size += files[member].size;
            pack->load.bytes = Book(pack->load.size, "a pack of " + std::to_string(pack->load.size) + " bytes", true);
            if (!pack->load.bytes) return false;
            own += pack->load.size;
        }
        Load load;
        load.size = f.size;
        load.bytes = Book(f.size, Printable(f.path), false);
        if (!load.bytes) return false;
        bool otherSize = false;
        if (!ReadExactly(f.location, f.size, load.bytes.get(), otherSize)) return Unreadable(f, otherSize);
        Digest digest;
        digest.Add(load.bytes.get(), size_t(f.size));
        load.sha256 = fileHashes[i] = digest.Hex();
        ProgressAdd(bar, f.size);
        if (pack) {
            memcpy(pack->load.bytes.get() + pack->fill, load.bytes.get(), size_t(f.size));
            pack->digest.Add(load.bytes.get(), size_t(f.size));
            pack->fill += f.size;
        }
        if (!Push(q, std::move(load))) return false;
        if (!pack || packs[size_t(p)].back() != i) return true;
        own -= pack->load.size;
        pack->load.sha256 = q.packHashes[size_t(p)] = pack->digest.Hex();
        bool pushed = Push(q, std::move(pack->load));
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
