#include "publisher/serve.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <chrono>
#include <thread>

#include "publisher/build.h"
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

}  // namespace
}  // namespace orvantis
