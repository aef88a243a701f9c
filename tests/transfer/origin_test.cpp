// The test origin's fault modes, which later tests rely on, seen through the real client.
#include "tests/support/origin.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <utility>

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

// Fault rows script a sequence per path and count what was asked: both must hold, or a row
// could pass on an answer it never got or a count that is always zero.
TEST(TestOrigin, ScriptedRepliesComeInOrderTheLastRepeatsAndEachIsCounted) {
    Origin origin;
    origin.Script("/o", {Fixed(503, "a"), Fixed(404, "b"), Fixed(200, "c")});
    Http http(Plain(origin));
    const std::pair<int32_t, const char*> expected[] = {{503, "a"}, {404, "b"}, {200, "c"}, {200, "c"}};
    for (const auto& [status, text] : expected) {
        std::string body;
        EXPECT_EQ(http.Get(L"/o", Into(body), nullptr), status);
        if (status == 200) {
            EXPECT_EQ(body, text);  // the client keeps no body of a failed request
        }
    }
    std::string body;
    EXPECT_EQ(http.Get(L"/missing", Into(body), nullptr), 404);
    EXPECT_EQ(origin.Count("/o"), 4u);
    EXPECT_EQ(origin.Count("/missing"), 1u);
    EXPECT_EQ(origin.Count("/b"), 0u);
    auto requests = origin.Requests();
    ASSERT_EQ(requests.size(), 5u);
    EXPECT_EQ(requests.back().path, "/missing");
}

// Stall rows rely on the delays being real: a delay that did not happen would let a stall
// row pass without any stall. Lower bounds only, which no load can break.
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

// Gated rows order events by the gate: nothing may pass it before Open, everything after.
TEST(TestOrigin, HoldsAnAnswerAtItsGateUntilOpened) {
    Origin origin;
    Reply held = Fixed(200, "let go");
    held.gate = 7;
    origin.Script("/held", {held});
    std::atomic<int32_t> status{-1};
    std::string body;
    std::thread client([&] {
        Http http(Plain(origin));
        status = http.Get(L"/held", Into(body), nullptr);
    });
    for (int i = 0; i < 6000 && origin.Count("/held") == 0; ++i) Sleep(10);
    ASSERT_EQ(origin.Count("/held"), 1u);
    origin.Open(3);  // another gate
    EXPECT_EQ(status.load(), -1) << "an answer passed a closed gate";
    origin.Open(7);
    client.join();
    EXPECT_EQ(status.load(), 200);
    EXPECT_EQ(body, "let go");
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
