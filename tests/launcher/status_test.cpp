#include "launcher/status.h"

#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "launcher/constants.h"
#include "launcher/globals.h"
#include "launcher/owned.h"
#include "tests/support/holder.h"
#include "tests/support/temp_folder.h"

namespace orvantis {
namespace {

using test::GameFolderTest;
using test::Holder;
using test::ReadFileBytes;
using test::WriteFileBytes;

TEST(ShouldLog, SkipsProgressNoiseAndRepeats) {
    struct Row {
        const char* name;
        std::wstring line, last;
        bool logged;
    } rows[] = {
        {"first line", L"Buscando actualizaciones...", L"", true},
        {"empty line as the very first", L"", L"", false},
        {"scan progress", L"Revisando tus archivos... 200 de 900", L"", false},
        {"scan progress after other text", L"Revisando", L"Buscando actualizaciones...", false},
        {"first download progress", L"Descargando 1 de 10 archivos", L"Buscando actualizaciones...", true},
        {"following download progress", L"Descargando 2 de 10 archivos", L"Descargando 1 de 10 archivos", false},
        {"other text after download progress", L"Listo.", L"Descargando 2 de 10 archivos", true},
        {"repeat", L"Listo.", L"Listo.", false},
        {"prefixes are case-sensitive", L"descargando 2", L"Descargando 1", true},
        {"scan prefix is case-sensitive", L"revisando", L"", true},
        {"prefix must start the line", L" Revisando", L"", true},
        {"differs only in case", L"listo.", L"Listo.", true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(ShouldLog(row.line, row.last), row.logged);
    }
}

using LogTest = GameFolderTest;

// The lines of the log without their timestamps; each must carry a well-formed one.
std::vector<std::string> LoggedTexts(const std::wstring& path) {
    std::string bytes = ReadFileBytes(path);
    std::vector<std::string> texts;
    static const std::regex line("(\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d) ([^\\r\\n]*)\\r\\n");
    auto begin = std::sregex_iterator(bytes.begin(), bytes.end(), line);
    size_t covered = 0;
    for (auto it = begin; it != std::sregex_iterator(); ++it) {
        EXPECT_EQ(static_cast<size_t>(it->position()), covered) << "text between log lines";
        covered += it->length();
        texts.push_back((*it)[2]);
    }
    EXPECT_EQ(covered, bytes.size()) << "an unterminated or malformed last line";
    return texts;
}

TEST_F(LogTest, WritesEventsOnceAndSkipsProgressRuns) {
    // The writer remembers its last line across tests of this process: start from a known one.
    Log(L"inicio de la prueba de registro");
    for (const wchar_t* line : {L"A", L"A", L"B", L"A", L"Revisando tus archivos...", L"Descargando 1 de 10 archivos",
                                L"Descargando 2 de 10 archivos", L"Descargando 3 de 10 archivos", L"C",
                                L"Descargando 4 de 10 archivos"})
        Log(line);
    std::vector<std::string> expected = {"inicio de la prueba de registro", "A", "B", "A",
                                         "Descargando 1 de 10 archivos", "C", "Descargando 4 de 10 archivos"};
    EXPECT_EQ(LoggedTexts(Path(kLogName)), expected);
}

TEST_F(LogTest, WritesUtf8AndAppendsToAnEarlierRun) {
    WriteFileBytes(Path(kLogName), "2025-01-02 03:04:05 de una vez anterior\r\n");
    Log(L"El juego está al día.");
    std::vector<std::string> expected = {"de una vez anterior", "El juego est\xc3\xa1 al d\xc3\xad" "a."};
    EXPECT_EQ(LoggedTexts(Path(kLogName)), expected);
    std::string bytes = ReadFileBytes(Path(kLogName));
    EXPECT_EQ(bytes.find("\xef\xbb\xbf"), std::string::npos) << "no byte-order mark";
}

TEST_F(LogTest, UnwritableLogStillRemembersTheLine) {
    std::wstring good = gFolder;
    gFolder = folder + L"missing\\";
    Log(L"línea sin archivo");
    gFolder = good;
    Log(L"línea sin archivo");  // equal to the remembered line: skipped
    Log(L"después");
    std::vector<std::string> expected = {"despu\xc3\xa9s"};
    EXPECT_EQ(LoggedTexts(Path(kLogName)), expected);
}

// A scanner looks at the new log after its first line; the next line waits for it. A log that
// stays shut costs one wait, not one per line.
TEST_F(LogTest, WaitsForALogHeldForAMomentButNotForEveryLineOfAShutOne) {
    Log(L"primera");
    {
        Holder holder;
        Holder::Now(holder, Path(kLogName), 400);
        ASSERT_TRUE(holder.held);
        Log(L"segunda");
        EXPECT_TRUE(holder.done);
    }
    std::vector<std::string> expected = {"primera", "segunda"};
    EXPECT_EQ(LoggedTexts(Path(kLogName)), expected);

    OwnedHandle shut = OpenFile(Path(kLogName).c_str(), GENERIC_READ, 0, OPEN_EXISTING);
    ASSERT_TRUE(shut);
    ULONGLONG start = GetTickCount64();
    for (int i = 0; i < 12; ++i) Log(L"l\u00ednea " + std::to_wstring(i));
    EXPECT_LT(GetTickCount64() - start, 12000u) << "every line waited";
    shut.Reset();
    Log(L"tercera");
    expected.push_back("tercera");
    EXPECT_EQ(LoggedTexts(Path(kLogName)), expected);
    Log(L"cuarta");
    {
        Holder holder;
        Holder::Now(holder, Path(kLogName), 400);
        Log(L"quinta");
    }
    expected.push_back("cuarta");
    expected.push_back("quinta");
    EXPECT_EQ(LoggedTexts(Path(kLogName)), expected) << "a log that opened again is waited for again";
}

TEST_F(LogTest, ConcurrentCallersWriteWholeLines) {
    constexpr int kThreads = 4, kLines = 50;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([t] {
            for (int i = 0; i < kLines; ++i) Log(L"hilo " + std::to_wstring(t) + L" línea " + std::to_wstring(i));
        });
    for (auto& thread : threads) thread.join();
    std::vector<std::string> texts = LoggedTexts(Path(kLogName));
    ASSERT_EQ(texts.size(), static_cast<size_t>(kThreads * kLines));
    for (int t = 0; t < kThreads; ++t) {
        int next = 0;
        for (const std::string& text : texts) {
            std::string prefix = "hilo " + std::to_string(t) + " l\xc3\xad" "nea ";
            if (text.rfind(prefix, 0) == 0) {
                EXPECT_EQ(text, prefix + std::to_string(next++));
            }
        }
        EXPECT_EQ(next, kLines);
    }
}

struct StatusTest : GameFolderTest {
    void SetUp() override {
        GameFolderTest::SetUp();
        gWindow = CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
        ASSERT_NE(gWindow, nullptr);
    }
    void TearDown() override {
        DestroyWindow(gWindow);
        gWindow = nullptr;
        GameFolderTest::TearDown();
    }
    // The text and percent of the next posted status, which the caller now owns.
    bool Next(std::wstring* text, INT_PTR* percent) {
        MSG msg;
        if (!PeekMessageW(&msg, gWindow, kMsgStatus, kMsgStatus, PM_REMOVE)) return false;
        auto* copy = reinterpret_cast<std::wstring*>(msg.lParam);
        *text = *copy;
        *percent = static_cast<INT_PTR>(msg.wParam);
        delete copy;
        return true;
    }
};

TEST_F(StatusTest, PostsACopyWithSignedPercentAndLogs) {
    std::thread worker([] {
        Status(L"Buscando actualizaciones...", -1);
        Status(L"Revisando tus archivos...", 40);
        Status(L"Listo.", 100);
    });
    worker.join();
    std::wstring text;
    INT_PTR percent = 0;
    ASSERT_TRUE(Next(&text, &percent));
    EXPECT_EQ(text, L"Buscando actualizaciones...");
    EXPECT_EQ(percent, -1) << "the percent must stay negative at pointer width";
    ASSERT_TRUE(Next(&text, &percent));
    EXPECT_EQ(text, L"Revisando tus archivos...");
    EXPECT_EQ(percent, 40);
    ASSERT_TRUE(Next(&text, &percent));
    EXPECT_EQ(text, L"Listo.");
    EXPECT_EQ(percent, 100);
    EXPECT_FALSE(Next(&text, &percent));
    std::vector<std::string> expected = {"Buscando actualizaciones...", "Listo."};
    EXPECT_EQ(LoggedTexts(Path(kLogName)), expected);
}

}  // namespace
}  // namespace orvantis
