#include "transfer/http.h"

#include <gtest/gtest.h>

#include <thread>

#include "launcher/constants.h"
#include "tests/support/origin.h"

namespace orvantis {
namespace {

using test::Origin;
using test::Fixed;
using test::Reply;

// Bytes whose order matters: a chunk delivered twice or out of place changes them.
std::string Pattern(size_t size) {
    std::string out(size, '\0');
    uint32_t x = 2463534242u;
    for (auto& c : out) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        c = static_cast<char>(x);
    }
    return out;
}

Endpoint Plain(const Origin& origin) { return Endpoint{L"127.0.0.1", origin.port, false}; }

struct Received {
    std::string body;
    size_t calls = 0;
    size_t largest = 0;
};

Sink Collect(Received& r) {
    return [&r](const uint8_t* data, uint32_t count) {
        r.body.append(reinterpret_cast<const char*>(data), count);
        ++r.calls;
        r.largest = std::max<size_t>(r.largest, count);
        return true;
    };
}

// No usable response: 0, nothing handed to the sink, and the signature left as it was.
void ExpectNoResponse(Http& http, const wchar_t* path) {
    Received r;
    std::string signature = "previous";
    EXPECT_EQ(http.Get(path, Collect(r), &signature), 0);
    EXPECT_EQ(r.calls, 0u);
    EXPECT_EQ(signature, "previous");
}

struct HttpTest : ::testing::Test {
    Origin origin;
};

// Limits short enough for a test to watch a server give too little; the faults below would
// finish on their own (after a few seconds) if nothing gave them up.
struct StalledHttpTest : HttpTest {
    TransferLimits saved = gTransferLimits;
    void SetUp() override {
        gTransferLimits.headMs = 1500;
        gTransferLimits.slowMs = 1500;
    }
    void TearDown() override { gTransferLimits = saved; }
};

Reply Drip(const std::string& body, size_t bytes, uint32_t everyMs, bool head = false) {
    Reply reply = Fixed(200, body);
    reply.dripBytes = bytes;
    reply.dripEveryMs = everyMs;
    reply.dripHead = head;
    return reply;
}

TEST_F(StalledHttpTest, ResponseThatStopsMakingProgressIsNoResponse) {
    const std::string body = Pattern(60);
    Reply stalled = Fixed(200, Pattern(5000));
    stalled.stallAfter = 1200;
    Reply silent = Fixed(200, body);
    silent.delayMs = 6000;
    struct Row {
        const char* name;
        Reply reply;
    } rows[] = {
        {"a byte at a time in the body", Drip(body, 1, 100)},
        {"a byte at a time in the head", Drip(body, 1, 100, true)},
        {"some of the body, then nothing on an open connection", stalled},
        {"nothing at all for longer than the head may take", silent},
    };
    Http http(Plain(origin));
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        Reply reply = row.reply;
        reply.signature = "c0ffee";
        origin.Script("/update/manifest.json", {reply});
        std::string signature = "previous";
        Received r;
        // Never a part of a body judged as if it were the whole.
        EXPECT_EQ(http.Get(kManifestPath, Collect(r), &signature), 0);
        EXPECT_LT(r.body.size(), reply.body.size());
    }
    // The connection given up does not spoil the next request.
    origin.Serve("/after", "fine");
    Received r;
    EXPECT_EQ(http.Get(L"/after", Collect(r), nullptr), 200);
    EXPECT_EQ(r.body, "fine");
}

// A slow line that brings more than the minimum in every period is waited for however
// long the whole takes; bursts with pauses shorter than the period are too.
TEST_F(StalledHttpTest, SlowButWorkingLineIsWaitedFor) {
    const std::string body = Pattern(6000);
    Reply bursts = Fixed(200, body);
    bursts.chunkSize = 2000;
    bursts.chunkDelayMs = 1000;
    struct Row {
        const char* name;
        Reply reply;
    } rows[] = {
        {"256 bytes every 100 ms", Drip(body, 256, 100)},
        {"2000 bytes every second", bursts},
        {"the head in pieces, quickly", Drip(body.substr(0, 100), 7, 10, true)},
    };
    Http http(Plain(origin));
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        origin.Script("/slow", {row.reply});
        Received r;
        EXPECT_EQ(http.Get(L"/slow", Collect(r), nullptr), 200);
        EXPECT_TRUE(r.body == row.reply.body) << "received " << r.body.size() << " bytes";
    }
}

// A head longer than the limit is not taken in, however fast it comes; one within it is.
TEST_F(HttpTest, ResponseHeadIsBoundedInSize) {
    Reply flood = Fixed(200, "body");
    flood.floodLines = 7000;  // about 70 KB of "X<n>: 1" lines
    flood.signature = "c0ffee";
    Reply within = flood;
    within.floodLines = 2500;  // about 24 KB
    origin.Script("/flood", {flood});
    origin.Script("/within", {within});
    Http http(Plain(origin));
    ExpectNoResponse(http, L"/flood");
    std::string signature = "previous";
    Received w;
    EXPECT_EQ(http.Get(L"/within", Collect(w), &signature), 200);
    EXPECT_EQ(w.body, "body");
    EXPECT_EQ(signature, "c0ffee");
}

TEST_F(HttpTest, NonSuccessAndEmptyBodiesNeverReachTheSink) {
    origin.Serve("/empty", "");
    origin.Script("/gone", {Fixed(404, "not here")});
    origin.Script("/busy", {Fixed(503, "later")});
    struct Row {
        const char* name;
        const wchar_t* path;
        int32_t status;
    } rows[] = {
        {"scripted 404 with a body", L"/gone", 404},
        {"unknown path", L"/nothing/here", 404},
        {"503 with a body", L"/busy", 503},
        {"empty 200", L"/empty", 200},
    };
    Http http(Plain(origin));
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        Received r;
        EXPECT_EQ(http.Get(row.path, Collect(r), nullptr), row.status);
        EXPECT_EQ(r.calls, 0u);
    }
}

TEST_F(HttpTest, BodiesArriveWholeAndInOrder) {
    struct Row {
        const char* name;
        size_t size;
        size_t chunk;
    } rows[] = {
        {"one byte", 1, 65536},
        {"exactly one buffer", 65536, 65536},
        {"one buffer and a byte, sent in odd pieces", 65537, 1000},
        {"several MiB", 5 * 1024 * 1024 + 17, 65536},
    };
    Http http(Plain(origin));
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        std::string body = Pattern(row.size);
        Reply reply;
        reply.body = body;
        reply.chunkSize = row.chunk;
        origin.Script("/object", {reply});
        Received r;
        EXPECT_EQ(http.Get(L"/object", Collect(r), nullptr), 200);
        EXPECT_GE(r.calls, 1u);
        EXPECT_LE(r.largest, 65536u);
        EXPECT_TRUE(r.body == body) << "received " << r.body.size() << " of " << body.size() << " bytes";
    }
}

TEST_F(HttpTest, RequestsAreGetWithTheLauncherAgentAndNothingElseAsked) {
    origin.Serve("/a", "x");
    Http http(Plain(origin));
    Received r;
    ASSERT_EQ(http.Get(L"/a", Collect(r), nullptr), 200);
    auto requests = origin.Requests();
    ASSERT_EQ(requests.size(), 1u);
    const std::string& head = requests[0].head;
    EXPECT_EQ(head.rfind("GET /a HTTP/1.1\r\n", 0), 0u) << head;
    EXPECT_NE(head.find("User-Agent: OrvantisKesh-Launcher/1\r\n"), std::string::npos) << head;
    for (const char* absent : {"Range:", "If-", "Accept-Encoding:"}) {
        SCOPED_TRACE(absent);
        EXPECT_EQ(head.find(absent), std::string::npos) << head;
    }
}

TEST_F(HttpTest, RefusingSinkStopsTheTransferWithMinusOne) {
    origin.Serve("/big", Pattern(1024 * 1024));
    Http http(Plain(origin));
    size_t calls = 0;
    int32_t result = http.Get(
        L"/big",
        [&](const uint8_t*, uint32_t) {
            ++calls;
            return false;
        },
        nullptr);
    EXPECT_EQ(result, -1);
    EXPECT_EQ(calls, 1u);
    // The same Http still works after an aborted transfer.
    origin.Serve("/small", "ok");
    Received r;
    EXPECT_EQ(http.Get(L"/small", Collect(r), nullptr), 200);
    EXPECT_EQ(r.body, "ok");
}

TEST_F(HttpTest, SignatureHeaderIsCopiedOnlyWhenPresentAndFits) {
    const std::string der = "3045022100" + std::string(64, 'a') + "0220" + std::string(64, 'b');
    struct Row {
        const char* name;
        int status;
        std::optional<std::string> header;
        std::string expected;  // starting from "previous"
    } rows[] = {
        {"hex signature", 200, std::string(128, 'f'), std::string(128, 'f')},
        {"odd length", 200, "abc", "abc"},
        {"not hex", 200, "zz-not-hex", "zz-not-hex"},
        {"DER hex", 200, der, der},
        {"255 characters fit", 200, std::string(255, '1'), std::string(255, '1')},
        {"256 characters do not", 200, std::string(256, '2'), "previous"},
        {"missing", 200, std::nullopt, "previous"},
        {"captured on a 404 too", 404, "c0ffee", "c0ffee"},
    };
    Http http(Plain(origin));
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        Reply reply;
        reply.status = row.status;
        reply.body = "body";
        reply.signature = row.header;
        origin.Script("/update/manifest.json", {reply});
        std::string signature = "previous";
        Received r;
        EXPECT_EQ(http.Get(kManifestPath, Collect(r), &signature), row.status);
        EXPECT_EQ(signature, row.expected);
    }
}

TEST_F(HttpTest, BodyCutShortGivesTwoHundredAndWhatArrived) {
    std::string body = Pattern(200000);
    Reply reply;
    reply.body = body;
    reply.cutAfter = 70000;
    origin.Script("/cut", {reply});
    Http http(Plain(origin));
    Received r;
    EXPECT_EQ(http.Get(L"/cut", Collect(r), nullptr), 200);
    EXPECT_TRUE(r.body == body.substr(0, 70000)) << "received " << r.body.size() << " bytes";
}

TEST_F(HttpTest, NoResponseGivesZeroAndLeavesSinkAndSignatureAlone) {
    Reply drop;
    drop.dropBeforeStatus = true;
    drop.signature = "never sent";
    origin.Script("/drop", {drop});
    Http http(Plain(origin));
    ExpectNoResponse(http, L"/drop");
    EXPECT_GE(origin.Count("/drop"), 1u);
}

TEST_F(HttpTest, ClosedPortIsRefusedWithoutWaitingForTheConnectTimeout) {
    Origin closed;
    Endpoint endpoint = Plain(closed);
    closed.Stop();
    Http http(endpoint);
    Received r;
    uint64_t start = GetTickCount64();
    EXPECT_EQ(http.Get(L"/x", Collect(r), nullptr), 0);
    // A refusal is an answer; only a silent host should cost the 15 s connect timeout.
    EXPECT_LT(GetTickCount64() - start, 10000u);
    EXPECT_EQ(r.calls, 0u);
}

// Takes the full receive timeout (30 s): a host that takes the connection and never
// answers must end the request, or the update and the workers' join would wait forever.
TEST_F(HttpTest, SilentHostGivesZeroAfterTheReceiveTimeout) {
    Reply silent;
    silent.body = "too late";
    silent.delayMs = 120000;  // answering at all would fail the test rather than hang it
    origin.Script("/silent", {silent});
    Http http(Plain(origin));
    ExpectNoResponse(http, L"/silent");
}

TEST_F(HttpTest, MissingSessionOrConnectionGivesZeroWithoutTraffic) {
    origin.Serve("/x", "x");
    struct Row {
        const char* name;
        bool dropSession;
    } rows[] = {{"no connection", false}, {"no session and no connection", true}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        Http http(Plain(origin));
        ASSERT_NE(http.connect, nullptr);
        WinHttpCloseHandle(http.connect);
        http.connect = nullptr;
        if (row.dropSession) {
            WinHttpCloseHandle(http.session);
            http.session = nullptr;
        }
        ExpectNoResponse(http, L"/x");
    }
    EXPECT_EQ(origin.Count("/x"), 0u);
}

TEST_F(HttpTest, SecureFlagFollowsTheEndpoint) {
    origin.Serve("/x", "plain");
    Http plain(Plain(origin));
    Received r;
    EXPECT_EQ(plain.Get(L"/x", Collect(r), nullptr), 200);
    EXPECT_EQ(r.body, "plain");

    Endpoint endpoint = Plain(origin);
    endpoint.secure = true;
    Http secure(endpoint);
    EXPECT_TRUE(secure.secure);
    Received s;
    // A TLS handshake against a plain server gets no usable response.
    EXPECT_EQ(secure.Get(L"/x", Collect(s), nullptr), 0);
    EXPECT_EQ(s.calls, 0u);
}

// Every request's state goes with its handle: a launcher fetches thousands of objects.
TEST_F(HttpTest, RequestsLeaveNoHandlesBehind) {
    origin.Serve("/a", Pattern(1000));
    Http http(Plain(origin));
    Received warm;
    ASSERT_EQ(http.Get(L"/a", Collect(warm), nullptr), 200);
    DWORD before = 0, after = 0;
    ASSERT_TRUE(GetProcessHandleCount(GetCurrentProcess(), &before));
    for (int i = 0; i < 150; ++i) {
        Received r;
        ASSERT_EQ(http.Get(L"/a", Collect(r), nullptr), 200);
    }
    ASSERT_TRUE(GetProcessHandleCount(GetCurrentProcess(), &after));
    EXPECT_LT(after, before + 30) << "before " << before << ", after " << after;
}

TEST_F(HttpTest, OneHttpKeepsItsConnectionAcrossRequests) {
    origin.Serve("/a", "first");
    origin.Serve("/b", "second");
    Http http(Plain(origin));
    for (int i = 0; i < 3; ++i) {
        Received a, b;
        EXPECT_EQ(http.Get(L"/a", Collect(a), nullptr), 200);
        EXPECT_EQ(http.Get(L"/b", Collect(b), nullptr), 200);
        EXPECT_EQ(a.body, "first");
        EXPECT_EQ(b.body, "second");
    }
    EXPECT_EQ(origin.Connections(), 1u);
}

}  // namespace
}  // namespace orvantis
