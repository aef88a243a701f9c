// The update thread out of memory. Allocations are failed on demand by replacing the global
// allocation functions of this test program: no real machine needs to run short.
#include "update/update.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>

#include "launcher/constants.h"
#include "launcher/globals.h"
#include "tests/support/message_window.h"
#include "tests/support/origin.h"
#include "tests/support/signing.h"
#include "tests/support/temp_folder.h"

namespace {

// 0: every allocation is served; otherwise every one of at least this many bytes fails.
std::atomic<size_t> gFailFrom{0};

}  // namespace

void* operator new(size_t size) {
    size_t limit = gFailFrom.load();
    if (limit != 0 && size >= limit) throw std::bad_alloc();
    if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, size_t) noexcept { std::free(p); }

namespace orvantis::test {
namespace {

const std::wstring kNoMemory =
    L"La actualizaci\u00f3n no se pudo terminar por falta de memoria: cierra otros programas y vuelve a abrir "
    L"el lanzador.";

struct ArmedAllocations {
    explicit ArmedAllocations(size_t from) { gFailFrom.store(from); }
    ~ArmedAllocations() { gFailFrom.store(0); }
};

using UpdateMemory = GameFolderTest;

// A signed manifest of 200,000 tiny entries: its 3.6 MB body arrives whole, but the list of
// entries outgrows what may be had (each entry is far larger in memory than in the text).
// Without a guard the exception leaves the thread and the runtime ends the whole process.
TEST_F(UpdateMemory, RunningOutEndsTheRunWithAMessageAndTouchesNothing) {
    WriteFileBytes(Path(L"Main.exe"), "game");
    ASSERT_TRUE(CreateDirectoryW(Path(L"Data").c_str(), nullptr));
    std::string body = "{\"release\":9,\"files\":[";
    for (int i = 0; i < 200000; ++i) body += "{\"path\":\"" + std::to_string(i) + "\"},";
    body += "]}";
    ASSERT_LT(body.size(), 4u << 20);
    Origin origin;
    origin.Serve("/update/manifest.json", body, SignHex(body));
    gSite = Endpoint{L"127.0.0.1", origin.port, false};
    gFiles = gSite;
    gReady = true;
    MessageWindow window;
    bool ran = false;
    {
        ArmedAllocations armed(12u << 20);
        ran = RunUpdate(window);
    }
    gSite = Endpoint{kHost, 443, true};
    gFiles = Endpoint{kFilesHost, 443, true};
    ASSERT_TRUE(ran);
    window.Flush();
    EXPECT_EQ(window.Finished(), std::vector<int>{0});
    EXPECT_EQ(window.Last().text, kNoMemory);
    EXPECT_EQ(window.Last().percent, 100);
    EXPECT_FALSE(gReady);
    EXPECT_FALSE(Exists(Path(L"config.ini")));
    EXPECT_FALSE(Exists(Path(L"orvantis_update.cache")));
    EXPECT_FALSE(Exists(Path(L"orvantis_update.release")));
}

}  // namespace
}  // namespace orvantis::test
