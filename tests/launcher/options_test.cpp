#include "launcher/options.h"

#include <gtest/gtest.h>

namespace orvantis {
namespace {

const Endpoint kSite{L"site.default", 443, true};
const Endpoint kFiles{L"files.default", 443, true};

Options Read(std::vector<std::wstring> rest) {
    rest.insert(rest.begin(), L"C:\\Juegos\\OrvantisKesh.exe");
    return ReadOptions(rest, kSite, kFiles);
}

void ExpectEndpoint(const Endpoint& e, const std::wstring& host, uint16_t port, bool secure) {
    EXPECT_EQ(e.host, host);
    EXPECT_EQ(e.port, port);
    EXPECT_EQ(e.secure, secure);
}

TEST(ReadOptions, FlagsFromFirstPass) {
    struct Row {
        const char* name;
        std::vector<std::wstring> args;
        bool yes, verify;
    } rows[] = {
        {"none", {}, false, false},
        {"yes alone", {L"--yes"}, true, false},
        {"verify-only alone", {L"--verify-only"}, false, true},
        {"both, last argument counts", {L"--verify-only", L"--yes"}, true, true},
        {"other case is not recognised", {L"--YES", L"--Verify-Only"}, false, false},
        {"unknown arguments ignored", {L"-yes", L"yes", L"/orvantis"}, false, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        Options o = Read(row.args);
        EXPECT_EQ(o.assumeYes, row.yes);
        EXPECT_EQ(o.verifyOnly, row.verify);
        ExpectEndpoint(o.site, L"site.default", 443, true);
        ExpectEndpoint(o.files, L"files.default", 443, true);
    }
}

TEST(ReadOptions, ProgramNameIsNeverAnOption) {
    Options o = ReadOptions({L"--yes"}, kSite, kFiles);
    EXPECT_FALSE(o.assumeYes);
    o = ReadOptions({L"--server", L"a.test"}, kSite, kFiles);
    ExpectEndpoint(o.site, L"site.default", 443, true);
}

TEST(ReadOptions, ServerSetsBothEndpointsInPlainHttp) {
    Options o = Read({L"--server", L"10.0.0.5:8080"});
    ExpectEndpoint(o.site, L"10.0.0.5", 8080, false);
    ExpectEndpoint(o.files, L"10.0.0.5", 8080, false);

    o = Read({L"--server", L"a.test"});
    ExpectEndpoint(o.site, L"a.test", 80, false);
    ExpectEndpoint(o.files, L"a.test", 80, false);
}

TEST(ReadOptions, LaterOptionsOverrideEarlierOnes) {
    Options o = Read({L"--server", L"a.test", L"--files", L"b.test:9000"});
    ExpectEndpoint(o.site, L"a.test", 80, false);
    ExpectEndpoint(o.files, L"b.test", 9000, false);

    o = Read({L"--files", L"b.test:9000", L"--server", L"a.test"});
    ExpectEndpoint(o.site, L"a.test", 80, false);
    ExpectEndpoint(o.files, L"a.test", 80, false);

    o = Read({L"--server", L"a.test", L"--server", L"c.test:1"});
    ExpectEndpoint(o.site, L"c.test", 1, false);
    ExpectEndpoint(o.files, L"c.test", 1, false);
}

TEST(ReadOptions, OptionWithoutValueIsIgnored) {
    for (const wchar_t* option : {L"--server", L"--files"}) {
        SCOPED_TRACE(testing::PrintToString(std::wstring(option)));
        Options o = Read({L"--yes", option});
        EXPECT_TRUE(o.assumeYes);
        ExpectEndpoint(o.site, L"site.default", 443, true);
        ExpectEndpoint(o.files, L"files.default", 443, true);
    }
    // A value earlier in the list stays when the same option ends the list bare.
    Options o = Read({L"--files", L"b.test", L"--files"});
    ExpectEndpoint(o.files, L"b.test", 80, false);
}

TEST(ReadOptions, ValueIsNotConsumed) {
    Options o = Read({L"--files", L"--yes"});
    ExpectEndpoint(o.files, L"--yes", 80, false);
    ExpectEndpoint(o.site, L"site.default", 443, true);
    EXPECT_TRUE(o.assumeYes);

    o = Read({L"--files", L"--server", L"a.test:81"});
    ExpectEndpoint(o.site, L"a.test", 81, false);
    ExpectEndpoint(o.files, L"a.test", 81, false);

    o = Read({L"--server", L"--verify-only"});
    ExpectEndpoint(o.site, L"--verify-only", 80, false);
    EXPECT_TRUE(o.verifyOnly);
}

TEST(ParseEndpoint, HostAndPort) {
    struct Row {
        const char* name;
        std::wstring value;
        std::wstring host;
        uint16_t port;
    } rows[] = {
        {"no colon", L"a.test", L"a.test", 80},
        {"port", L"127.0.0.1:8080", L"127.0.0.1", 8080},
        {"nothing after colon", L"a.test:", L"a.test", 0},
        {"not a number", L"a.test:http", L"a.test", 0},
        {"digits then text", L"a.test:81x", L"a.test", 81},
        {"wraps past 65535", L"a.test:65616", L"a.test", 80},
        {"largest port", L"a.test:65535", L"a.test", 65535},
        {"65536 wraps to 0", L"a.test:65536", L"a.test", 0},
        {"negative keeps low bits", L"a.test:-1", L"a.test", 65535},
        {"first colon splits", L"a.test:81:82", L"a.test", 81},
        {"empty host", L":9000", L"", 9000},
        {"empty value", L"", L"", 80},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        Endpoint e = ParseEndpoint(row.value);
        ExpectEndpoint(e, row.host, row.port, false);
    }
}

TEST(FolderOf, KeepsTheTrailingBackslash) {
    EXPECT_EQ(FolderOf(L"D:\\Juegos\\Launcher.exe"), L"D:\\Juegos\\");
    EXPECT_EQ(FolderOf(L"Z:\\tmp\\a b\\OrvantisKesh.exe"), L"Z:\\tmp\\a b\\");
    EXPECT_EQ(FolderOf(L"Launcher.exe"), L"");
    EXPECT_EQ(FolderOf(L""), L"");
}

// A path longer than the buffer must come back whole, or gFolder would point at a parent
// folder. Starting from tiny buffers makes this program's path "too long".
TEST(ModulePath, GrowsUntilTheWholePathFits) {
    std::wstring path = ModulePath();
    ASSERT_GT(path.size(), 4u);
    EXPECT_EQ(path.substr(path.size() - 4), L".exe");
    EXPECT_NE(GetFileAttributesW(path.c_str()), INVALID_FILE_ATTRIBUTES);
    for (size_t first : {size_t{1}, size_t{8}, path.size(), path.size() + 1}) {
        SCOPED_TRACE(first);
        EXPECT_EQ(ModulePath(first), path);
    }
}

}  // namespace
}  // namespace orvantis
