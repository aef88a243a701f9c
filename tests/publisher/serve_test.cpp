#include "publisher/serve.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <thread>

#include "publisher/build.h"
#include "publisher/keys.h"
#include "tests/publisher/http_get.h"
#include "tests/publisher/scratch.h"

namespace orvantis {
namespace {

using test::Bytes;
using test::ReadFile;
using test::WriteFile;

class Serve : public test::Scratch {
protected:
    httplib::Server server;
    std::thread thread;
    FILE* log = nullptr;
    int port = -1;

    void SetUp() override {
        test::Scratch::SetUp();
        WriteFile(game + "/Main.exe", Bytes(1, 4000));
        for (int i = 0; i < 12; ++i) WriteFile(game + "/Data/f" + std::to_string(i), Bytes(i, 1000 + i));
        WriteFile(game + "/Data/big.bin", Bytes(77, 3 * 1048576 + 5));
        ASSERT_TRUE(BuildRelease({game, origin, test::DevKey(), false}).problems.empty());
        log = tmpfile();
        ServeRoutes(server, origin, log);
        port = ServeBind(server, 0);
        ASSERT_GT(port, 0);
        thread = std::thread([this] { server.listen_after_bind(); });
        while (!server.is_running()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    void TearDown() override {
        server.stop();
        if (thread.joinable()) thread.join();
        if (log) fclose(log);
        test::Scratch::TearDown();
    }
    std::string Log() {
        fflush(log);
        rewind(log);
        std::string out;
        char buffer[4096];
        size_t n;
        while ((n = fread(buffer, 1, sizeof buffer, log)) > 0) out.append(buffer, n);
        return out;
    }
};

TEST_F(Serve, ServesTheSignedManifestAndEveryObject) {
    test::Answer manifest = test::HttpGet(port, "/update/manifest.json");
    ASSERT_EQ(manifest.status, 200);
    EXPECT_EQ(manifest.body, ReadFile(origin + "/update/manifest.json"));
    EXPECT_EQ(manifest.Header("x-orvantis-signature"), ReadFile(origin + "/update/manifest.json.sig"));

    for (const Entry& e : test::ReadManifest(origin)) {
        SCOPED_TRACE(e.path);
        test::Answer object = test::HttpGet(port, "/update/files/" + e.sha256);
        ASSERT_EQ(object.status, 200);
        EXPECT_EQ(object.body, ReadFile(game + "/" + e.path));
        EXPECT_EQ(object.Header("Content-Length"), std::to_string(e.size));
        if (!e.pack.empty()) {
            test::Answer pack = test::HttpGet(port, "/update/files/" + e.pack);
            ASSERT_EQ(pack.status, 200);
            EXPECT_EQ(pack.body.size(), e.packSize);
        }
    }
    std::string log = Log();
    EXPECT_NE(log.find("GET /update/manifest.json 200 " + std::to_string(manifest.body.size()) + "\n"),
              std::string::npos)
        << log;
    EXPECT_NE(log.find(" 200 3145733\n"), std::string::npos) << log;  // the large object, streamed
}

TEST_F(Serve, AnswersNotFoundForAnythingElse) {
    const char* paths[] = {
        "/update/files/0000000000000000000000000000000000000000000000000000000000000000",
        "/update/files/../manifest.json.sig",
        "/update/files/%2e%2e%2fmanifest.json",
        "/update/manifest.json.sig",
        "/update/files/",
        "/",
    };
    for (const char* path : paths) {
        SCOPED_TRACE(path);
        EXPECT_EQ(test::HttpGet(port, path).status, 404);
    }
    EXPECT_NE(Log().find("GET /update/manifest.json.sig 404"), std::string::npos);
}

TEST_F(Serve, ServesANewBuildAtOnceAndDropsABrokenSignature) {
    WriteFile(game + "/Data/new.bin", "new");
    ASSERT_TRUE(BuildRelease({game, origin, test::DevKey(), false}).problems.empty());
    test::Answer fresh = test::HttpGet(port, "/update/manifest.json");
    EXPECT_NE(fresh.body.find("Data/new.bin"), std::string::npos);
    EXPECT_EQ(fresh.Header("x-orvantis-signature"), ReadFile(origin + "/update/manifest.json.sig"));

    WriteFile(origin + "/update/manifest.json.sig", ReadFile(origin + "/update/manifest.json.sig") + "\n");
    test::Answer broken = test::HttpGet(port, "/update/manifest.json");
    EXPECT_EQ(broken.status, 200);
    EXPECT_EQ(broken.headers.find("x-orvantis-signature"), std::string::npos);
}

// A launcher that asks while a build switches releases gets one release's manifest and its own
// signature, never a new manifest with the old signature.
TEST_F(Serve, AnswersWithOneReleasesPairWhileBuildsSwitch) {
    std::string error;
    PKey key = LoadPrivateKey(test::DevKey(), error);
    ASSERT_TRUE(key) << error;
    std::atomic<bool> stop{false};
    std::atomic<int> answers{0}, mismatched{0};
    std::thread launcher([&] {
        while (!stop) {
            test::Answer a = test::HttpGet(port, "/update/manifest.json");
            if (a.status != 200) continue;
            ++answers;
            if (!SignatureValid(key.get(), a.body, a.Header("x-orvantis-signature"))) ++mismatched;
        }
    });
    for (int i = 0; i < 30; ++i) {
        if (i % 2 == 0)
            WriteFile(game + "/Data/toggled.bin", "present");
        else
            std::filesystem::remove(game + "/Data/toggled.bin");
        BuildReport r = BuildRelease({game, origin, test::DevKey(), false});
        EXPECT_TRUE(r.problems.empty()) << r.problems.front();
    }
    stop = true;
    launcher.join();
    EXPECT_GT(answers.load(), 0);
    EXPECT_EQ(mismatched.load(), 0) << "of " << answers.load() << " answers";
}

// The connections take turns on one budget: each waits for the bytes booked before it, and an
// idle spell earns no credit for a burst afterwards.
TEST(ServeThrottle, QueuesEveryConnectionBehindTheBytesBookedBeforeIt) {
    struct Step {
        const char* name;
        double now;
        size_t bytes;
        double wait, nextAfter;
    };
    const Step steps[] = {
        {"the first chunk goes at once", 10.0, 500, 0.0, 10.5},
        {"a second connection in the same instant waits for it", 10.0, 500, 0.5, 11.0},
        {"a third a little later waits for both", 10.25, 1000, 0.75, 12.0},
        {"after an idle spell the budget starts from now", 20.0, 250, 0.0, 20.25},
        {"an empty chunk waits its turn but books nothing", 20.0, 0, 0.25, 20.25},
    };
    Throttle throttle;
    throttle.bytesPerSecond = 1000;
    for (const Step& step : steps) {
        SCOPED_TRACE(step.name);
        EXPECT_DOUBLE_EQ(ThrottleWait(throttle, step.now, step.bytes), step.wait);
        EXPECT_DOUBLE_EQ(throttle.next, step.nextAfter);
    }

    Throttle unlimited;
    EXPECT_EQ(ThrottleWait(unlimited, 5.0, 1 << 30), 0.0);
    EXPECT_EQ(ThrottleWait(unlimited, 5.0, 1 << 30), 0.0);
}

// A throttled server sends the same bytes, only later.
TEST_F(Serve, AThrottledServerSendsEveryObjectIntact) {
    httplib::Server slow;
    FILE* slowLog = tmpfile();
    ServeRoutes(slow, origin, slowLog, 64 * 1048576);
    int slowPort = ServeBind(slow, 0);
    ASSERT_GT(slowPort, 0);
    std::thread slowThread([&] { slow.listen_after_bind(); });
    while (!slow.is_running()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    for (const Entry& e : test::ReadManifest(origin)) {
        SCOPED_TRACE(e.path);
        test::Answer object = test::HttpGet(slowPort, "/update/files/" + e.sha256);
        EXPECT_EQ(object.status, 200);
        EXPECT_EQ(object.body, ReadFile(game + "/" + e.path));
    }
    slow.stop();
    slowThread.join();
    fclose(slowLog);
}

}  // namespace
}  // namespace orvantis
