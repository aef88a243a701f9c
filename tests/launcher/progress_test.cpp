#include "launcher/progress.h"

#include <gtest/gtest.h>

#include <clocale>
#include <string>
#include <vector>

#include "launcher/constants.h"
#include "launcher/globals.h"
#include "tests/support/status_window.h"
#include "update/job.h"

namespace orvantis {
namespace {

struct LineRow {
    const char* name;
    uint64_t done, total, elapsed;
    int32_t filesDone;
    uint64_t files;
    int32_t percent;
    const wchar_t* line;
};

TEST(ProgressLine, Lines) {
    const LineRow rows[] = {
        {"half of one megabyte in one second", 524288, 1048576, 999, 0, 4, 50,
         L"Descargando 0 de 4 archivos (0.5 MB de 1.0 MB) \u00B7 0.5 MB/s"},
        {"nothing planned shows full bar", 0, 0, 10, 0, 0, 100,
         L"Descargando 0 de 0 archivos (0.0 MB de 0.0 MB) \u00B7 0.0 MB/s"},
        {"started this very tick: elapsed counts as 1 ms", 1048576, 2097152, 0, 1, 2, 50,
         L"Descargando 1 de 2 archivos (1.0 MB de 2.0 MB) \u00B7 1000.0 MB/s"},
        {"percent truncates", 999, 1000, 9999, 3, 120, 99,
         L"Descargando 3 de 120 archivos (0.0 MB de 0.0 MB) \u00B7 0.0 MB/s"},
        {"example line", 15938355, 314572800, 6079, 3, 120, 5,
         L"Descargando 3 de 120 archivos (15.2 MB de 300.0 MB) \u00B7 2.5 MB/s"},
        {"sizes past 4 GiB", 5368709120ull, 10737418240ull, 99, 1000, 70000, 50,
         L"Descargando 1000 de 70000 archivos (5120.0 MB de 10240.0 MB) \u00B7 51200.0 MB/s"},
    };
    for (const LineRow& row : rows) {
        SCOPED_TRACE(row.name);
        int32_t percent = -7;
        std::wstring line = ProgressLine(row.done, row.total, row.elapsed, row.filesDone, row.files, &percent);
        EXPECT_EQ(line, row.line);
        EXPECT_EQ(percent, row.percent);
    }
}

// A locale with a decimal comma must not leak into the line.
TEST(ProgressLine, PointWhateverTheLocale) {
    const char* previous = setlocale(LC_ALL, nullptr);
    std::string saved = previous ? previous : "C";
    bool switched = setlocale(LC_ALL, "Spanish_Spain.1252") || setlocale(LC_ALL, "es-ES") ||
                    setlocale(LC_ALL, "de-DE") || setlocale(LC_ALL, "German_Germany.1252");
    wchar_t probe[16];
    swprintf(probe, 16, L"%.1f", 1.5);
    int32_t percent = 0;
    std::wstring line = ProgressLine(1572864, 3145728, 999, 1, 2, &percent);
    setlocale(LC_ALL, saved.c_str());
    EXPECT_EQ(line, L"Descargando 1 de 2 archivos (1.5 MB de 3.0 MB) \u00B7 1.5 MB/s");
    if (!switched || std::wstring(probe) != L"1,5")
        GTEST_LOG_(INFO) << "no decimal-comma locale here; only the plain case was checked";
}

TEST(ProgressDue, PacingTable) {
    struct Call {
        uint32_t now;
        bool due;
    };
    struct Row {
        const char* name;
        std::vector<Call> calls;
    } rows[] = {
        {"first call refreshes even at tick 0", {{0, true}, {1, false}}},
        {"first call refreshes at any uptime", {{4000000000u, true}}},
        {"100 ms apart only the first", {{1000, true}, {1100, false}, {1249, false}, {1250, true}}},
        {"dropped calls do not move the clock", {{500, true}, {700, false}, {750, true}, {999, false}, {1000, true}}},
        {"tick wraps around", {{0xFFFFFF80u, true}, {0xFFFFFFF0u, false}, {0x10u, false}, {0x7Au, true}}},
    };
    for (Row& row : rows) {
        SCOPED_TRACE(row.name);
        ProgressPace pace;
        for (const Call& call : row.calls) {
            SCOPED_TRACE(call.now);
            EXPECT_EQ(ProgressDue(pace, call.now), call.due);
        }
    }
}

using test::StatusWindow;

// The pace is shared by the whole process, so an earlier caller's refresh may still hold it:
// the first refresh is waited for. After it, a call is judged by the ticks read around it:
// one that ended before 250 ms had passed since the refresh could have started must be
// dropped, and the next refresh must come from a call that ended 250 ms or more after it.
TEST(Progress, RefreshesAtMostEvery250ms) {
    StatusWindow window;
    ASSERT_NE(window.hwnd, nullptr);
    Job job;
    job.files.resize(4);
    job.bytesTotal = 4 * 1048576;
    job.started = GetTickCount64();
    job.bytesDone = 1048576;
    job.filesDone = 1;

    // Calls Progress until a line comes (at most capMs); the ticks before and after that call.
    struct Refresh {
        std::vector<std::pair<std::wstring, int32_t>> lines;
        DWORD before = 0, after = 0;
        int dropped = 0;       // calls without a line before it
        bool tooSoon = false;  // the line came from a call that ended within 250 ms of since
    };
    auto refresh = [&](DWORD since, bool checkSince, DWORD capMs) {
        Refresh r;
        DWORD start = GetTickCount();
        while (GetTickCount() - start < capMs) {
            r.before = GetTickCount();
            Progress(job);
            r.after = GetTickCount();
            r.lines = window.Drain();
            bool soon = checkSince && r.after - since < 250;
            if (!r.lines.empty()) {
                r.tooSoon = soon;
                break;
            }
            ++r.dropped;
            Sleep(5);
        }
        return r;
    };

    Refresh first = refresh(0, false, 10000);
    ASSERT_EQ(first.lines.size(), 1u) << "no refresh within 10 s";
    EXPECT_EQ(first.lines[0].first.rfind(L"Descargando 1 de 4 archivos (1.0 MB de 4.0 MB) \u00B7 ", 0), 0u)
        << first.lines[0].first.c_str();
    EXPECT_EQ(first.lines[0].second, 25);

    job.bytesDone = 2 * 1048576;
    job.filesDone = 2;
    Refresh second = refresh(first.before, true, 10000);
    ASSERT_EQ(second.lines.size(), 1u) << "no second refresh within 10 s";
    EXPECT_FALSE(second.tooSoon) << "a refresh came " << (second.after - first.before) << " ms after the last, "
                                 << second.dropped << " calls dropped before it";
    EXPECT_EQ(second.lines[0].first.rfind(L"Descargando 2 de 4 archivos (2.0 MB de 4.0 MB) \u00B7 ", 0), 0u);
    EXPECT_EQ(second.lines[0].second, 50);
    EXPECT_EQ(second.lines[0].first.substr(second.lines[0].first.size() - 5), L" MB/s");
}

}  // namespace
}  // namespace orvantis
