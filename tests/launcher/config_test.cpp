#include "launcher/config.h"

#include <gtest/gtest.h>

#include "launcher/constants.h"
#include "launcher/text.h"
#include "tests/support/holder.h"
#include "tests/support/temp_folder.h"

namespace orvantis::test {
namespace {

TEST(IsHostName, FollowsTheLabelRules) {
    struct Row {
        const wchar_t* name;
        bool expected;
    } rows[] = {
        {L"a.example", true},
        {L"game-1.orvantis.example", true},
        {L"1a.2b", true},
        {L"A.B", true},
        {L"-a.example", false},
        {L"a-.example", false},
        {L"a.-b", false},
        {L"a..example", false},
        {L".a.example", false},
        {L"a.example.", false},
        {L"a.example-", false},
        {L"10.0.0.1", false},
        {L"localhost", false},
        {L"", false},
        {L"a_b.example", false},
        {L"a b.example", false},
        {L"\u00e1.example", false},  // letters outside ASCII are not host-name letters
        {L"a.example:80", false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(Narrow(row.name));
        EXPECT_EQ(IsHostName(row.name), row.expected);
    }
}

TEST(IsHostName, AllowsAtMostSixtyThreeCharacters) {
    std::wstring name = L"a." + std::wstring(61, L'b');
    ASSERT_EQ(name.size(), 63u);
    EXPECT_TRUE(IsHostName(name));
    EXPECT_FALSE(IsHostName(name + L"b"));
}

struct ConfigTest : GameFolderTest {
    std::wstring Config() const { return Path(L"config.ini"); }
    // The name that new files and repairs write.
    static std::string Server() { return Narrow(IsHostName(kMigrationHostname) ? kMigrationHostname : kServerAddress); }
};

TEST_F(ConfigTest, CreatesTheTemplateWhenMissing) {
    WriteDefaultConfig();
    std::string expected =
        "[LOGIN]\r\nRememberMe=0\r\nLanguage=Eng\r\n[Window]\r\nWidth=1024\r\nHeight=768\r\nWindowed=1\r\n"
        "HDTextures=1\r\n[Audio]\r\nSoundVolume=5\r\nMusicVolume=10\r\n[CONNECTION SETTINGS]\r\nServerIP=" +
        Server() + "\r\nServerPort=44405\r\n[UI]\r\nLocale=es\r\nFont=\r\n";
    EXPECT_EQ(ReadFileBytes(Config()), expected);
    // The deployment's game host passes the test, so new files name the server by host name.
    EXPECT_TRUE(IsHostName(kMigrationHostname));
    EXPECT_EQ(Server(), Narrow(kMigrationHostname));
}

TEST_F(ConfigTest, RepairsMigratesOrLeavesAloneByteForByte) {
    const std::string host = Server();
    const std::string address = Narrow(kServerAddress);
    const std::string head = "[LOGIN]\r\nRememberMe=1\r\nLanguage=Spa\r\n[CONNECTION SETTINGS]\r\n";
    const std::string tail = "[UI]\r\nLocale=fr\r\nFont=Arial\r\n";
    struct Row {
        const char* name;
        std::string before;
        std::string after;
    } rows[] = {
        {"placeholder with another port",
         head + "ServerIP=127.127.127.127\r\nServerPort=1234\r\n" + tail,
         head + "ServerIP=" + host + "\r\nServerPort=44405\r\n" + tail},
        {"empty ServerIP",
         head + "ServerIP=\r\nServerPort=44405\r\n" + tail,
         head + "ServerIP=" + host + "\r\nServerPort=44405\r\n" + tail},
        {"bare address with the game port migrates the address only",
         head + "ServerIP=" + address + "\r\nServerPort=44405\r\n" + tail,
         head + "ServerIP=" + host + "\r\nServerPort=44405\r\n" + tail},
        {"bare address with another port",
         head + "ServerIP=" + address + "\r\nServerPort=44406\r\n" + tail,
         head + "ServerIP=" + address + "\r\nServerPort=44406\r\n" + tail},
        {"another server",
         head + "ServerIP=play.elsewhere.example\r\nServerPort=1\r\n" + tail,
         head + "ServerIP=play.elsewhere.example\r\nServerPort=1\r\n" + tail},
        {"host name in other letter case",
         head + "ServerIP=GAME.ORVANTISKESH.EXAMPLE\r\nServerPort=44405\r\n" + tail,
         head + "ServerIP=GAME.ORVANTISKESH.EXAMPLE\r\nServerPort=44405\r\n" + tail},
        {"already right",
         head + "ServerIP=" + host + "\r\nServerPort=44405\r\n" + tail,
         head + "ServerIP=" + host + "\r\nServerPort=44405\r\n" + tail},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        WriteFileBytes(Config(), row.before);
        WriteDefaultConfig();
        EXPECT_EQ(ReadFileBytes(Config()), row.after);
        // A second call right after finds nothing more to do.
        WriteDefaultConfig();
        EXPECT_EQ(ReadFileBytes(Config()), row.after);
    }
}

TEST_F(ConfigTest, AddsTheMissingSectionAndKeepsTheRest) {
    const std::string before = "[LOGIN]\r\nRememberMe=1\r\n[UI]\r\nLocale=fr\r\n";
    WriteFileBytes(Config(), before);
    WriteDefaultConfig();
    std::string after = ReadFileBytes(Config());
    EXPECT_EQ(after.substr(0, before.size()), before);
    wchar_t ip[64] = {}, port[16] = {};
    GetPrivateProfileStringW(L"CONNECTION SETTINGS", L"ServerIP", L"", ip, 64, Config().c_str());
    GetPrivateProfileStringW(L"CONNECTION SETTINGS", L"ServerPort", L"", port, 16, Config().c_str());
    EXPECT_EQ(Narrow(ip), Server());
    EXPECT_STREQ(port, L"44405");
}

// A scanner that holds the file makes the profile functions read it as empty; the values are
// read only once it lets go, so a repair still happens and the player's server is never taken
// for a missing one.
TEST_F(ConfigTest, WaitsForAFileAScannerHoldsForAMoment) {
    const std::string head = "[CONNECTION SETTINGS]\r\n";
    struct Row {
        const char* name;
        std::string before;
        std::string after;
    } rows[] = {
        {"placeholder", head + "ServerIP=127.127.127.127\r\nServerPort=1\r\n",
         head + "ServerIP=" + Server() + "\r\nServerPort=44405\r\n"},
        {"the player's own server", head + "ServerIP=play.elsewhere.example\r\nServerPort=1\r\n",
         head + "ServerIP=play.elsewhere.example\r\nServerPort=1\r\n"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        WriteFileBytes(Config(), row.before);
        Holder holder;
        Holder::Now(holder, Config(), 400);
        ASSERT_TRUE(holder.held);
        WriteDefaultConfig();
        EXPECT_TRUE(holder.done);
        EXPECT_EQ(ReadFileBytes(Config()), row.after);
    }
}

}  // namespace
}  // namespace orvantis::test
