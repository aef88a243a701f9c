// The test origin's fault modes, which later tests rely on, seen through the real client.
#include "tests/support/origin.h"

#include <gtest/gtest.h>

#include <thread>

#include "tests/support/signing.h"
#include "tests/support/temp_folder.h"
#include "transfer/http.h"

namespace orvantis {
namespace {

using test::Origin;
using test::Fixed;
using test::Reply;

Endpoint Plain(const Origin& origin) { return Endpoint{L"127.0.0.1", origin.port, false}; }

Sink Into(std::string& body) {
    return [&body](const uint8_t* data, uint32_t count) {
        body.append(reinterpret_cast<const char*>(data), count);
        return true;
    };
}

TEST(TestOrigin, ScriptedRepliesComeInOrderAndTheLastRepeats) {
    Origin origin;
    origin.Script("/o", {Fixed(503, "a"), Fixed(404, "b"), Fixed(200, "c")});
    Http http(Plain(origin));
    int32_t expected[] = {503, 404, 200, 200};
    for (int32_t status : expected) {
        std::string body;
        EXPECT_EQ(http.Get(L"/o", Into(body), nullptr), status);
    }
    EXPECT_EQ(origin.Count("/o"), 4u);
}

TEST(TestOrigin, RecordsEveryRequestInOrderWithItsTick) {
    Origin origin;
    origin.Serve("/a", "1");
    Http http(Plain(origin));
    uint64_t before = GetTickCount64();
    std::string body;
    for (const wchar_t* path : {L"/a", L"/missing", L"/a"}) http.Get(path, Into(body), nullptr);
    uint64_t after = GetTickCount64();
    auto requests = origin.Requests();
    ASSERT_EQ(requests.size(), 3u);
    EXPECT_EQ(requests[0].path, "/a");
    EXPECT_EQ(requests[1].path, "/missing");
    EXPECT_EQ(requests[2].path, "/a");
    EXPECT_GE(requests[0].tick, before);
    EXPECT_LE(requests[0].tick, requests[1].tick);
    EXPECT_LE(requests[1].tick, requests[2].tick);
    EXPECT_LE(requests[2].tick, after);
    EXPECT_EQ(origin.Count("/a"), 2u);
    EXPECT_EQ(origin.Count("/b"), 0u);
}

TEST(TestOrigin, DelaysTheAnswerAndTheChunks) {
    Origin origin;
    Reply late;
    late.body = "late";
    late.delayMs = 300;
    Reply slow;
    slow.body = std::string(3000, 's');
    slow.chunkSize = 1000;
    slow.chunkDelayMs = 150;
    origin.Script("/late", {late});
    origin.Script("/slow", {slow});
    Http http(Plain(origin));
    struct Row {
        const char* name;
        const wchar_t* path;
        const std::string& body;
        uint64_t atLeastMs;
    } rows[] = {{"before the status", L"/late", late.body, 300}, {"between chunks", L"/slow", slow.body, 300}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        std::string body;
        uint64_t start = GetTickCount64();
        EXPECT_EQ(http.Get(row.path, Into(body), nullptr), 200);
        EXPECT_GE(GetTickCount64() - start + 5, row.atLeastMs);  // a tick of slack for rounding
        EXPECT_EQ(body, row.body);
    }
}

TEST(TestOrigin, ServesAFolderBelowItsScripts) {
    std::wstring folder = test::MakeTempFolder(L"origin");
    CreateDirectoryW((folder + L"sub").c_str(), nullptr);
    test::WriteFileBytes(folder + L"sub\\file.bin", "from disk");
    test::WriteFileBytes(folder + L"top.txt", "top");
    Origin origin;
    origin.ServeFolder(folder);
    origin.Serve("/top.txt", "scripted");
    struct Row {
        const wchar_t* path;
        int32_t status;
        const char* body;
    } rows[] = {
        {L"/sub/file.bin", 200, "from disk"},
        {L"/top.txt", 200, "scripted"},
        {L"/sub/none", 404, ""},
        {L"/sub/../top.txt", 404, ""},
    };
    Http http(Plain(origin));
    for (const auto& row : rows) {
        SCOPED_TRACE(testing::PrintToString(std::wstring(row.path)));
        std::string body;
        EXPECT_EQ(http.Get(row.path, Into(body), nullptr), row.status);
        EXPECT_EQ(body, row.body);
    }
    origin.Stop();
    test::RemoveTree(folder);
}

TEST(TestOrigin, PublishesASignedManifestAndObjectsByDigest) {
    Origin origin;
    origin.Publish("{\"files\":[]}", {"one", "two"});
    Http http(Plain(origin));
    std::string manifest, signature;
    EXPECT_EQ(http.Get(L"/update/manifest.json", Into(manifest), &signature), 200);
    EXPECT_EQ(manifest, "{\"files\":[]}");
    EXPECT_EQ(signature.size(), 128u);
    EXPECT_EQ(signature.find_first_not_of("0123456789abcdef"), std::string::npos) << signature;
    for (const char* object : {"one", "two"}) {
        SCOPED_TRACE(object);
        std::string body;
        std::wstring path = L"/update/files/";
        for (char c : test::HexSha256(object)) path += static_cast<wchar_t>(c);
        EXPECT_EQ(http.Get(path, Into(body), nullptr), 200);
        EXPECT_EQ(body, object);
    }
}

TEST(TestOrigin, StopsWhileAClientKeepsItsConnectionOpen) {
    Origin origin;
    origin.Serve("/a", "a");
    Http http(Plain(origin));
    std::string body;
    ASSERT_EQ(http.Get(L"/a", Into(body), nullptr), 200);
    origin.Stop();  // the idle keep-alive connection must not hold this up
    EXPECT_EQ(http.Get(L"/a", Into(body), nullptr), 0);
}

TEST(TestOrigin, StopCutsALongDelayShort) {
    Origin origin;
    Reply never;
    never.delayMs = 600000;  // far beyond the test's own time-out if Stop waited it out
    origin.Script("/never", {never});
    int32_t result = 1;
    std::thread client([&] {
        Http http(Plain(origin));
        std::string body;
        result = http.Get(L"/never", Into(body), nullptr);
    });
    for (int i = 0; i < 1000 && origin.Count("/never") == 0; ++i) Sleep(10);
    origin.Stop();
    client.join();
    EXPECT_EQ(result, 0);
}

}  // namespace
}  // namespace orvantis
