#include "publisher/publish_objects.h"

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
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
// Large enough to hold two of the largest files that travel in packs.
constexpr size_t kSmallestRing = size_t(4) << 20;

uint64_t RoundUp(uint64_t n) { return (n + kDirectAlign - 1) / kDirectAlign * kDirectAlign; }

struct FreeAligned {
    void operator()(char* p) const { free(p); }
};
using AlignedBytes = std::unique_ptr<char[], FreeAligned>;

AlignedBytes Aligned(uint64_t n) { return AlignedBytes(static_cast<char*>(aligned_alloc(kDirectAlign, RoundUp(n)))); }

// Where one file's bytes wait between the reader and the writers.
struct Held {
    uint64_t start = 0;     // position in the endless run of ring bytes; in memory at start % capacity
    uint64_t size = 0;
    bool streamed = false;  // too large to hold: the reader put its object in the store itself
};

struct Tally {
    size_t written = 0;
    size_t present = 0;
    uint64_t bytes = 0;
};

// The file objects' writers mostly wait for the disk (their writes bypass the page cache), so
// several keep it busy while the reader hashes.
constexpr size_t kFileWriters = 3;

struct Shared {
    // Set before the writers start and read-only while they run.
    const std::vector<SourceFile>* files = nullptr;
    const std::vector<std::vector<size_t>>* packs = nullptr;
    const std::vector<int>* packOf = nullptr;
    std::string filesDir;
    std::unordered_set<std::string> inStore;  // names in the store when the build began
    AlignedBytes ring;
    uint64_t capacity = 0;
    uint64_t heldLimit = 0;

    // held[i] and fileHashes[i] are written by the reader before ready passes i and not changed
    // afterwards; packHashes by the pack writer alone.
    std::vector<Held> held;
    std::vector<std::string> fileHashes;
    std::vector<std::string> packHashes;

    std::mutex lock;
    std::condition_variable filled;  // ready moved, or failed
    std::condition_variable freed;   // filesDone or packsDone moved, or failed
    size_t ready = 0;                // files whose bytes are in the ring
    size_t taken = 0;                // files a file writer has taken on
    std::vector<bool> written;       // file i's object is in place (or was not to be written)
    size_t filesDone = 0;            // files before this one are all written
    size_t packsDone = 0;            // files before this one are all in the pack writer's hands
    bool failed = false;
    std::string problem;             // the first one
    std::unordered_set<std::string> claimed;  // objects a thread has taken on
};

void Fail(Shared& s, const std::string& problem) {
    std::lock_guard<std::mutex> hold(s.lock);
    if (!s.failed) s.problem = problem;
    s.failed = true;
    s.filled.notify_all();
    s.freed.notify_all();
}

char* At(Shared& s, uint64_t start) { return s.ring.get() + start % s.capacity; }

// An object already in the store is trusted only once its bytes hash to its name: an earlier
// build that was interrupted may have left a damaged one there, as objects are not flushed one
// by one. write puts the object in place when it is missing or damaged. Two files with the same
// bytes, or a pack that equals a file, make one object, written by whichever thread came first.
template <typename Write>
bool StoreObject(Shared& s, Tally& t, const std::string& name, uint64_t size, Write write) {
    {
        std::lock_guard<std::mutex> hold(s.lock);
        if (!s.claimed.insert(name).second) return true;
    }
    ProgressBar quiet;  // checks of objects already present are not the build's progress
    if (s.inStore.count(name) && ObjectIntact(s.filesDir + "/" + name, size, name, quiet)) {
        ++t.present;
        return true;
    }
    std::string error;
    if (!write(error)) {
        Fail(s, error);
        return false;
    }
    ++t.written;
    t.bytes += size;
    return true;
}

// False when the build failed before file i reached the ring.
bool WaitFor(Shared& s, size_t i) {
    std::unique_lock<std::mutex> hold(s.lock);
    s.filled.wait(hold, [&] { return s.failed || s.ready > i; });
    return !s.failed;
}

// The next file for a file writer; false when there is none left or the build failed.
bool TakeFile(Shared& s, size_t& i) {
    std::unique_lock<std::mutex> hold(s.lock);
    if (s.taken == s.files->size()) return false;
    i = s.taken++;
    s.filled.wait(hold, [&] { return s.failed || s.ready > i; });
    return !s.failed;
}

void FileWritten(Shared& s, size_t i) {
    std::lock_guard<std::mutex> hold(s.lock);
    s.written[i] = true;
    size_t before = s.filesDone;
    while (s.filesDone < s.ready && s.written[s.filesDone]) ++s.filesDone;
    if (s.filesDone != before) s.freed.notify_all();
}

void WriteFiles(Shared& s, Tally& t) {
    size_t i;
    while (TakeFile(s, i)) {
        const Held& h = s.held[i];
        if (!h.streamed) {
            const std::string& name = s.fileHashes[i];
            const char* data = At(s, h.start);
            if (!StoreObject(s, t, name, h.size, [&](std::string& error) {
                    return WriteObjectBytes(s.filesDir, name, data, size_t(h.size), error);
                }))
                return;
        }
        FileWritten(s, i);
    }
}

// A pack is gathered in a buffer of its own as its files pass through the ring, so that the ring
// keeps no more than it holds for the file objects and the pack goes to disk in one aligned piece.
void WritePacks(Shared& s, Tally& t) {
    if (s.packs->empty()) {
        std::lock_guard<std::mutex> hold(s.lock);
        s.packsDone = s.files->size();
        return;
    }
    AlignedBytes pack = Aligned(kPackLimit);
    if (!pack) return Fail(s, "not enough memory to gather a pack");
    std::unique_ptr<Digest> digest;
    uint64_t fill = 0;
    for (size_t i = 0; i < s.files->size(); ++i) {
        if (!WaitFor(s, i)) return;
        int p = (*s.packOf)[i];
        const Held& h = s.held[i];
        if (p >= 0) {
            // The plan keeps packs to kPackLimit and packed files far below kHeldFile.
            if (h.streamed || fill + h.size > kPackLimit)
                return Fail(s, Printable((*s.files)[i].path) + ": does not fit its pack");
            if (!digest) digest = std::make_unique<Digest>();
            memcpy(pack.get() + fill, At(s, h.start), size_t(h.size));
            digest->Add(pack.get() + fill, size_t(h.size));
            fill += h.size;
        }
        {
            std::lock_guard<std::mutex> hold(s.lock);
            s.packsDone = i + 1;
            s.freed.notify_all();
        }
        if (p >= 0 && (*s.packs)[size_t(p)].back() == i) {
            std::string name = digest->Hex();
            digest.reset();
            s.packHashes[size_t(p)] = name;
            if (!StoreObject(s, t, name, fill, [&](std::string& error) {
                    return WriteObjectBytes(s.filesDir, name, pack.get(), size_t(fill), error);
                }))
                return;
            fill = 0;
        }
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

// Waits until need bytes from start are no longer needed by either writer; false when the build failed.
bool WaitForRoom(Shared& s, size_t i, uint64_t start, uint64_t need) {
    std::unique_lock<std::mutex> hold(s.lock);
    s.freed.wait(hold, [&] {
        size_t oldest = std::min(s.filesDone, s.packsDone);
        uint64_t from = oldest < i ? s.held[oldest].start : start;
        return s.failed || start + need <= from + s.capacity;
    });
    return !s.failed;
}

// Every file is read once, hashed once, and handed to the writers in the ring; its object and its
// pack's object are written from the bytes that were hashed, so a source changed meanwhile can
// never reach the store under a name that is not its.
void ReadFiles(Shared& s, ProgressBar& bar, Tally& t) {
    uint64_t head = 0;
    std::vector<char> streaming;
    for (size_t i = 0; i < s.files->size(); ++i) {
        const SourceFile& f = (*s.files)[i];
        Held h;
        std::string hex;
        bool otherSize = false, read;
        if (f.size <= s.heldLimit) {
            uint64_t need = RoundUp(f.size + 1);
            h.start = head;
            if (h.start % s.capacity + need > s.capacity) h.start += s.capacity - h.start % s.capacity;
            if (!WaitForRoom(s, i, h.start, need)) return;
            char* data = At(s, h.start);
            read = ReadExactly(f.location, f.size, data, otherSize);
            if (read) {
                Digest own;
                own.Add(data, size_t(f.size));
                hex = own.Hex();
                ProgressAdd(bar, f.size);
            }
            h.size = f.size;
            head = h.start + need;
        } else {
            read = StreamedSha256(f.location, f.size, streaming, hex, otherSize, bar);
            h.start = head;
            h.streamed = true;
        }
        if (!read)
            return Fail(s, Printable(f.path) + (otherSize ? ": changed while the release was being built; build again"
                                                          : ": cannot be read"));
        if (h.streamed) {
            std::vector<Part> parts{{f.path, f.location, f.size, hex}};
            ProgressBar quiet;
            if (!StoreObject(s, t, hex, f.size, [&](std::string& error) {
                    return WriteObject(s.filesDir, hex, parts, quiet, error);
                }))
                return;
        }
        std::lock_guard<std::mutex> hold(s.lock);
        if (s.failed) return;
        s.held[i] = h;
        s.fileHashes[i] = std::move(hex);
        s.ready = i + 1;
        s.filled.notify_all();
    }
}

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
    Shared s;
    s.files = &files;
    s.packs = &packs;
    s.packOf = &packOf;
    s.filesDir = filesDir;
    s.capacity = RoundUp(std::max(inFlight, kSmallestRing));
    s.heldLimit = std::min(kHeldFile, s.capacity / 2 - kDirectAlign);
    s.ring = Aligned(s.capacity);
    if (!s.ring) {
        out.problem = "not enough memory for " + std::to_string(s.capacity >> 20) + " MiB of file contents";
        return out;
    }
    s.held.resize(files.size());
    s.fileHashes.resize(files.size());
    s.packHashes.resize(packs.size());
    s.inStore = ObjectsInStore(filesDir);

    s.written.resize(files.size());

    // The last tally is the reader's, the one before it the pack writer's.
    Tally tallies[kFileWriters + 2];
    std::thread writers[kFileWriters + 1];
    try {
        for (size_t w = 0; w < kFileWriters; ++w)
            writers[w] = std::thread(WriteFiles, std::ref(s), std::ref(tallies[w]));
        writers[kFileWriters] = std::thread(WritePacks, std::ref(s), std::ref(tallies[kFileWriters]));
    } catch (const std::system_error& e) {
        Fail(s, std::string("cannot start a writer thread (") + e.what() + ")");
    }
    ReadFiles(s, bar, tallies[kFileWriters + 1]);
    for (std::thread& w : writers)
        if (w.joinable()) w.join();

    out.problem = s.problem;
    out.fileHashes = std::move(s.fileHashes);
    out.packHashes = std::move(s.packHashes);
    for (const Tally& t : tallies) {
        out.written += t.written;
        out.present += t.present;
        out.bytesWritten += t.bytes;
    }
    return out;
}

}  // namespace orvantis
