#include <gtest/gtest.h>

#include <vector>

#include "launcher/constants.h"
#include "launcher/text.h"
#include "tests/support/launcher_probe.h"
#include "tests/support/origin.h"
#include "tests/support/signing.h"
#include "tests/support/temp_folder.h"

namespace orvantis::test {
namespace {

// Runs the launcher in its folder and returns its exit code; -1 when it did not start or end in time.
int RunLauncher(const std::wstring& exe, const std::wstring& folder, const std::wstring& arguments) {
    Started run;
    if (!StartProgram(exe, arguments, folder, &run)) return -1;
    DWORD code = 0;
    if (!WaitForExit(run.process.h, 120000, &code)) {
        TerminateProcess(run.process.h, 99);
        WaitForExit(run.process.h, 10000, &code);
        return -1;
    }
    return static_cast<int>(code);
}

// The texts of the log's lines, without their time stamps.
std::vector<std::string> LogTexts(const std::string& log) {
    std::vector<std::string> out;
    size_t start = 0;
    for (size_t end; (end = log.find("\r\n", start)) != std::string::npos; start = end + 2) {
        std::string line = log.substr(start, end - start);
        EXPECT_GE(line.size(), 20u);
        EXPECT_EQ(line[4], '-');
        EXPECT_EQ(line[10], ' ');
        EXPECT_EQ(line[13], ':');
        out.push_back(line.size() > 20 ? line.substr(20) : "");
    }
    EXPECT_EQ(start, log.size()) << "every line ends with CR LF";
    return out;
}

struct LauncherTest : GameFolderTest {
    Origin origin;
    std::wstring exe;

    void SetUp() override {
        GameFolderTest::SetUp();
        std::wstring built = BuiltProgram(L"OrvantisKesh.exe");
        ASSERT_FALSE(built.empty()) << "the launcher is not built";
        exe = Path(L"OrvantisKesh.exe");
        ASSERT_TRUE(CopyInto(built, exe));
    }

    // An up-to-date game: Main.exe, a Data folder with files in two levels, one more file.
    std::vector<Entry> PutGame() {
        std::vector<std::pair<std::string, std::string>> files = {
            {"Main.exe", "MZ not really a game"},
            {"Data/maps.pak", std::string(300000, 'm')},
            {"Data/sound/a.ogg", "ogg"},
            {"readme.txt", "hola"},
        };
        CreateDirectoryW(Path(L"Data").c_str(), nullptr);
        CreateDirectoryW(Path(L"Data\\sound").c_str(), nullptr);
        std::vector<Entry> entries;
        for (const auto& [path, content] : files) {
            std::wstring local = Wide(path);
            for (wchar_t& c : local)
                if (c == L'/') c = L'\\';
            WriteFileBytes(Path(local), content);
            entries.push_back(FileEntry(path, content));
        }
        // The launcher's own entry is never fetched, whatever it says.
        entries.push_back(FileEntry("OrvantisKesh.exe", "a different launcher"));
        return entries;
    }
};

TEST_F(LauncherTest, VerifiesAnUpToDateFolderAsReady) {
    origin.Publish(ManifestText(PutGame()), {});
    int code = RunLauncher(exe, folder, L"--server " + Address(origin) + L" --verify-only");
    EXPECT_EQ(code, 0);
    EXPECT_EQ(ReadFileBytes(Path(L"orvantis_verify.result")), "ready");
    EXPECT_EQ(LogTexts(ReadFileBytes(Path(L"orvantis_update.log"))),
              (std::vector<std::string>{"Buscando actualizaciones...",
                                        "El juego est\xc3\xa1 al d\xc3\xad" "a. Abriendo el juego..."}));
    std::string expectedConfig =
        "[LOGIN]\r\nRememberMe=0\r\nLanguage=Eng\r\n[Window]\r\nWidth=1024\r\nHeight=768\r\nWindowed=1\r\n"
        "HDTextures=1\r\n[Audio]\r\nSoundVolume=5\r\nMusicVolume=10\r\n[CONNECTION SETTINGS]\r\nServerIP=" +
        Narrow(kMigrationHostname) + "\r\nServerPort=44405\r\n[UI]\r\nLocale=es\r\nFont=\r\n";
    EXPECT_EQ(ReadFileBytes(Path(L"config.ini")), expectedConfig);
    EXPECT_NE(ReadFileBytes(Path(L"orvantis_update.cache")).find("Data/sound/a.ogg"), std::string::npos);
    // Only the manifest was asked for; nothing was downloaded, the launcher least of all.
    EXPECT_EQ(origin.Requests().size(), 1u);
    EXPECT_EQ(origin.Count("/update/manifest.json"), 1u);
}

TEST_F(LauncherTest, VerifiesABadlySignedReleaseAsFailed) {
    std::string body = ManifestText(PutGame());
    origin.Serve("/update/manifest.json", body, SignHex(body + "tampered"));
    int code = RunLauncher(exe, folder, L"--server " + Address(origin) + L" --verify-only");
    EXPECT_EQ(code, 1);
    EXPECT_EQ(ReadFileBytes(Path(L"orvantis_verify.result")), "failed");
    std::vector<std::string> texts = LogTexts(ReadFileBytes(Path(L"orvantis_update.log")));
    ASSERT_EQ(texts.size(), 2u);
    EXPECT_EQ(texts[1], Narrow(L"La actualizaci\u00f3n no tiene una firma v\u00e1lida y no se aplic\u00f3. Avisa a un "
                               L"administrador."));
    EXPECT_FALSE(Exists(Path(L"config.ini")));
    EXPECT_FALSE(Exists(Path(L"orvantis_update.cache")));
}

}  // namespace
}  // namespace orvantis::test
