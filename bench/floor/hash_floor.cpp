// Floor of a cold check: the platform's SHA-256 rate on data already in memory, on one thread,
// fed in 1 MiB pieces as the launcher feeds its file reads.
// Usage: hash_floor.exe MEBIBYTES   Prints the rate in MB/s (10^6 bytes per second).
#include "floor_common.h"

#include <bcrypt.h>

#include <cstdint>
#include <cstdlib>


namespace orvantis::bench {
namespace {

constexpr size_t kChunk = 1 << 20;
constexpr size_t kPool = 64 * kChunk;

int Run(int argc, wchar_t** argv) {
    long mib = argc > 1 ? wcstol(argv[1], nullptr, 10) : 1024;
    if (mib <= 0) mib = 1024;
    std::vector<uint8_t> pool(kPool);
    uint32_t x = 2463534242u;
    for (uint8_t& b : pool) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        b = static_cast<uint8_t>(x);
    }
    BCRYPT_ALG_HANDLE alg = nullptr;
    if (BCryptOpenAlgorithmProvider(&alg, BCRYPT_SHA256_ALGORITHM, nullptr, 0) != 0) {
        fprintf(stderr, "no SHA-256 provider\n");
        return 1;
    }
    double start = Now();
    size_t done = 0;
    uint8_t digest[32] = {};
    // One hash object per 64 MiB, fed 1 MiB at a time.
    while (done < static_cast<size_t>(mib) * kChunk) {
        BCRYPT_HASH_HANDLE h = nullptr;
        BCryptCreateHash(alg, &h, nullptr, 0, nullptr, 0, 0);
        for (size_t off = 0; off < kPool && done < static_cast<size_t>(mib) * kChunk; off += kChunk) {
            BCryptHashData(h, pool.data() + off, static_cast<ULONG>(kChunk), 0);
            done += kChunk;
        }
        BCryptFinishHash(h, digest, sizeof digest, 0);
        BCryptDestroyHash(h);
    }
    double seconds = Now() - start;
    printf("bytes=%zu seconds=%.6f mbps=%.1f digest0=%02x\n", done, seconds, done / seconds / 1e6, digest[0]);
    BCryptCloseAlgorithmProvider(alg, 0);
    return 0;
}

}  // namespace
}  // namespace orvantis::bench

int wmain(int argc, wchar_t** argv) { return orvantis::bench::Run(argc, argv); }
