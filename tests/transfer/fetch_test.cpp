#include "transfer/fetch.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "launcher/owned.h"
#include "tests/support/holder.h"
#include "tests/transfer/transfer_fixture.h"

namespace orvantis {
namespace {

using test::Content;
using test::kGameOpen;
using test::Listing;
using test::ObjectPath;
using test::Fixed;
using test::Reply;

struct FetchTest : test::TransferTest {
    std::string body = Content(150000, 1);
    Entry entry = test::FileEntry("data/maps/world.bin", body);
    std::string url = ObjectPath(entry.sha256);
    std::wstring target;  // the folder exists only from SetUp on

    void SetUp() override {
        TransferTest::SetUp();
        target = Path(L"data\\maps\\world.bin");
    }

    // Every attempt on both hosts was made and failed: the message names the file, no byte was
    // counted, and the old file is as it was.
    void ExpectGaveUpKeepingTheOldFile() {
        EXPECT_EQ(job.error, L"No se pudo descargar data/maps/world.bin.");
        EXPECT_EQ(files.Count(url), 3u);
        EXPECT_EQ(site.Count(url), 2u);
        EXPECT_EQ(job.bytesDone.load(), 0);
        EXPECT_EQ(test::ReadFileBytes(target), "previous version");
    }
};

TEST_F(FetchTest, InstallsIntoNewSubfolders) {
    files.Serve(url, body);
    ASSERT_TRUE(FetchOne(entry, target));
    EXPECT_EQ(test::ReadFileBytes(target), body);
    EXPECT_EQ(Listing(folder), std::vector<std::wstring>{L"data\\maps\\world.bin"});
    EXPECT_EQ(job.bytesDone.load(), int64_t(body.size()));
    EXPECT_EQ(site.Count(url), 0u);
    EXPECT_TRUE(job.error.empty());
}

TEST_F(FetchTest, EmptyObject) {
    Entry empty = test::FileEntry("empty.txt", "");
    files.Serve(ObjectPath(empty.sha256), "");
    test::WriteFileBytes(Path(L"empty.txt"), "old contents");
    ASSERT_TRUE(FetchOne(empty, Path(L"empty.txt")));
    bool ok = false;
    EXPECT_EQ(test::ReadFileBytes(Path(L"empty.txt"), &ok), "");
    EXPECT_TRUE(ok);
    EXPECT_EQ(job.bytesDone.load(), 0);
}

// Each wait follows its own attempt: spaced request ticks show the order, not the speed.
TEST_F(FetchTest, ServerErrorsOnFilesHostThenSiteHostInstalls) {
    const uint32_t waits[5] = {150, 300, 450, 600, 0};
    std::copy(waits, waits + 5, gRetryWaits);
    files.Script(url, {Fixed(500, "oops")});
    site.Serve(url, body);
    ASSERT_TRUE(FetchOne(entry, target));
    EXPECT_EQ(test::ReadFileBytes(target), body);
    EXPECT_EQ(files.Count(url), 3u);
    EXPECT_EQ(site.Count(url), 1u);
    EXPECT_EQ(job.bytesDone.load(), int64_t(body.size()));

    std::vector<uint64_t> ticks;
    for (auto& r : files.Requests()) ticks.push_back(r.tick);
    for (auto& r : site.Requests()) ticks.push_back(r.tick);
    ASSERT_EQ(ticks.size(), 4u);
    for (int i = 0; i < 3; ++i) {
        SCOPED_TRACE(i);
        EXPECT_GE(ticks[i + 1] - ticks[i], waits[i] - 20);
    }
}

// The retry does not reuse a bad first answer: the count ends at one body, not two.
TEST_F(FetchTest, BadBodiesAreRetriedAndTheirBytesGivenBack) {
    std::string wrong = body;
    wrong[body.size() / 2] ^= 1;
    struct Row {
        const char* name;
        Reply first;
    } rows[] = {
        {"right length, wrong hash", Fixed(200, wrong)},
        {"overlong body", Fixed(200, body + Content(3 << 20, 9))},
        {"short body", Fixed(200, body.substr(0, 1000))},
        {"connection dropped mid-body", [&] {
             Reply r = Fixed(200, body);
             r.cutAfter = 70000;
             return r;
         }()},
        {"no answer", [] {
             Reply r;
             r.dropBeforeStatus = true;
             return r;
         }()},
        {"a byte at a time", [&] {
             Reply r = Fixed(200, body);
             r.dripEveryMs = 200;
             return r;
         }()},
        {"stalled mid-body on an open connection", [&] {
             Reply r = Fixed(200, body);
             r.stallAfter = 70000;
             return r;
         }()},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        test::Origin host;
        gFiles = Endpoint{L"127.0.0.1", host.port, false};
        host.Script(url, {row.first, Fixed(200, body)});
        job.bytesDone = 0;
        DeleteFileW(target.c_str());
        ASSERT_TRUE(FetchOne(entry, target));
        EXPECT_EQ(test::ReadFileBytes(target), body);
        EXPECT_EQ(host.Count(url), 2u);
        EXPECT_EQ(job.bytesDone.load(), int64_t(body.size()));
        EXPECT_FALSE(test::Exists(target + L".part"));
    }
}

// Reading stops at the first chunk past the size: the count never runs ahead by more than
// one chunk, although the server would go on for megabytes.
TEST_F(FetchTest, OverlongBodyIsCutOff) {
    Reply endless = Fixed(200, body + Content(4 << 20, 5));
    endless.chunkSize = 16384;
    endless.chunkDelayMs = 10;
    files.Script(url, {endless, Fixed(200, body)});
    std::atomic<int64_t> most{0};
    std::atomic<bool> done{false};
    std::thread watcher([&] {
        while (!done) {
            most = std::max(most.load(), job.bytesDone.load());
            Sleep(1);
        }
    });
    bool installed = FetchOne(entry, target);
    done = true;
    watcher.join();
    EXPECT_TRUE(installed);
    EXPECT_EQ(files.Count(url), 2u);
    EXPECT_LE(most.load(), int64_t(body.size()) + 65536);
    EXPECT_EQ(job.bytesDone.load(), int64_t(body.size()));
}

// A server that drips on every attempt costs five given-up attempts on today's schedule,
// and the old file stays.
TEST_F(FetchTest, DripOnBothHostsFailsAfterTheWholeSchedule) {
    Reply drip = Fixed(200, body);
    drip.dripEveryMs = 200;
    files.Script(url, {drip});
    site.Script(url, {drip});
    CreateFolders(target);
    test::WriteFileBytes(target, "previous version");
    EXPECT_FALSE(FetchOne(entry, target));
    ExpectGaveUpKeepingTheOldFile();
    EXPECT_FALSE(test::Exists(target + L".part"));
}

TEST_F(FetchTest, EveryAttemptFailingLeavesTheOldFile) {
    files.Script(url, {Fixed(500)});
    site.Script(url, {Fixed(200, body.substr(1))});
    CreateFolders(target);
    test::WriteFileBytes(target, "previous version");

    EXPECT_FALSE(FetchOne(entry, target));
    ExpectGaveUpKeepingTheOldFile();
    EXPECT_EQ(Listing(folder), std::vector<std::wstring>{L"data\\maps\\world.bin"});
}

TEST_F(FetchTest, NotFoundOnFilesHostGoesStraightToSiteHost) {
    const uint32_t waits[5] = {5000, 5000, 5000, 1, 0};
    std::copy(waits, waits + 5, gRetryWaits);
    files.Script(url, {Fixed(404)});
    site.Serve(url, body);
    ASSERT_TRUE(FetchOne(entry, target));
    EXPECT_EQ(files.Count(url), 1u);
    EXPECT_EQ(site.Count(url), 1u);
    // A 404 from the site host is not a reason to stop: it is retried like any failure.
    site.Script(url, {Fixed(404), Fixed(200, body)});
    DeleteFileW(target.c_str());
    ASSERT_TRUE(FetchOne(entry, target));
    EXPECT_EQ(files.Count(url), 2u);
    EXPECT_EQ(site.Count(url), 3u);
}

// The real schedule: no wait after the files host's 404, three seconds between the two
// site attempts. The waits this path must not take are made 20 s long, so that taking one
// shows far above anything a loaded machine adds; the one it takes is the real one.
TEST_F(FetchTest, RealScheduleAfterNotFound) {
    std::copy(savedWaits, savedWaits + 5, gRetryWaits);
    ASSERT_EQ(gRetryWaits[3], 3000u);
    for (int i : {0, 1, 2}) gRetryWaits[i] = 20000;
    files.Script(url, {Fixed(404)});
    site.Script(url, {Fixed(500)});
    EXPECT_FALSE(FetchOne(entry, target));
    EXPECT_EQ(job.error, L"No se pudo descargar data/maps/world.bin.");
    auto filesRequests = files.Requests();
    auto siteRequests = site.Requests();
    ASSERT_EQ(filesRequests.size(), 1u);
    ASSERT_EQ(siteRequests.size(), 2u);
    EXPECT_LT(siteRequests[0].tick - filesRequests[0].tick, 10000u) << "a wait after the files host's 404";
    uint64_t pause = siteRequests[1].tick - siteRequests[0].tick;
    EXPECT_GE(pause, 2900u);
    EXPECT_LT(pause, 10000u) << "another wait of the schedule than the 3 s one";
}

TEST_F(FetchTest, DestinationHeldOpenIsNotRetried) {
    files.Serve(url, body);
    CreateFolders(target);
    test::WriteFileBytes(target, "running version");
    {
        OwnedHandle held = OpenFile(target.c_str(), GENERIC_READ, 0, OPEN_EXISTING);
        ASSERT_TRUE(held);
        EXPECT_FALSE(FetchOne(entry, target));
    }
    EXPECT_EQ(job.error, L"No se pudo reemplazar data/maps/world.bin" + kGameOpen);
    EXPECT_EQ(files.Count(url), 1u);
    EXPECT_EQ(site.Count(url), 0u);
    EXPECT_FALSE(test::Exists(target + L".part"));
    EXPECT_EQ(test::ReadFileBytes(target), "running version");
    EXPECT_EQ(job.bytesDone.load(), int64_t(body.size()));
}

// A scanner holds a file it has just seen for a moment: the destination being replaced, or a
// ".part" left behind. The install waits for it, and the object is downloaded once.
TEST_F(FetchTest, AFileAScannerHoldsForAMomentOnlyDelaysTheInstall) {
    struct Row {
        const char* name;
        std::wstring held;
    };
    const Row rows[] = {{"the destination", target}, {"a leftover part file", target + L".part"}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        files.Serve(url, body);
        CreateFolders(target);
        test::WriteFileBytes(target, "running version");
        test::WriteFileBytes(target + L".part", "left over");
        if (row.held != target + L".part") DeleteFileW((target + L".part").c_str());
        size_t before = files.Count(url);
        test::Holder holder;
        test::Holder::Now(holder, row.held, 400);
        ASSERT_TRUE(holder.held);
        EXPECT_TRUE(FetchOne(entry, target)) << Narrow(job.error);
        EXPECT_TRUE(holder.done);
        EXPECT_TRUE(test::ReadFileBytes(target) == body) << "the file was not installed";
        EXPECT_FALSE(test::Exists(target + L".part"));
        EXPECT_EQ(files.Count(url) - before, 1u);
    }
    EXPECT_TRUE(job.error.empty());
}

TEST_F(FetchTest, PartFileThatCannotBeCreated) {
    files.Serve(url, body);
    CreateFolders(target);
    test::WriteFileBytes(target + L".part", "someone else's");
    {
        OwnedHandle held = OpenFile((target + L".part").c_str(), GENERIC_READ, 0, OPEN_EXISTING);
        ASSERT_TRUE(held);
        EXPECT_FALSE(FetchOne(entry, target));
    }
    EXPECT_EQ(job.error, L"No se pudo escribir data/maps/world.bin" + kGameOpen);
    EXPECT_EQ(files.Count(url) + site.Count(url), 0u);
    EXPECT_FALSE(test::Exists(target));
}

// Another worker's failure stops this one after a chunk, with no retry and no message.
TEST_F(FetchTest, StopsWhenAnotherWorkerFailed) {
    files.Serve(url, body);
    job.failed = 1;
    SetError(job, L"earlier failure");
    EXPECT_FALSE(FetchOne(entry, target));
    EXPECT_EQ(job.error, L"earlier failure");
    EXPECT_EQ(files.Count(url), 1u);
    EXPECT_EQ(site.Count(url), 0u);
    EXPECT_EQ(job.bytesDone.load(), 0);
    EXPECT_TRUE(Listing(folder).empty());
}

}  // namespace
}  // namespace orvantis
