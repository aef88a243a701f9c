#include "launcher/extended_path.h"

#include <gtest/gtest.h>

#include "launcher/text.h"

namespace orvantis {
namespace {

TEST(ExtendedPath, PrefixesDriveAndNetworkPathsAndLeavesTheRestAlone) {
    struct Row {
        const wchar_t* path;
        const wchar_t* extended;
    } rows[] = {
        {L"C:\\Juegos\\Orvantis\\Data\\x.bmd", L"\\\\?\\C:\\Juegos\\Orvantis\\Data\\x.bmd"},
        {L"z:\\a", L"\\\\?\\z:\\a"},
        {L"C:\\", L"\\\\?\\C:\\"},
        {L"\\\\servidor\\juegos\\Orvantis\\Main.exe", L"\\\\?\\UNC\\servidor\\juegos\\Orvantis\\Main.exe"},
        // Already extended, or a device: the form must not be doubled or bent.
        {L"\\\\?\\C:\\Juegos\\x", L"\\\\?\\C:\\Juegos\\x"},
        {L"\\\\?\\UNC\\servidor\\juegos\\x", L"\\\\?\\UNC\\servidor\\juegos\\x"},
        {L"\\\\.\\C:\\x", L"\\\\.\\C:\\x"},
        {L"\\\\.\\CON", L"\\\\.\\CON"},
        // Not absolute: nothing the launcher passes, and nothing the form could carry.
        {L"Data\\x.bmd", L"Data\\x.bmd"},
        {L"C:Data\\x.bmd", L"C:Data\\x.bmd"},
        {L"\\Data\\x.bmd", L"\\Data\\x.bmd"},
        {L"1:\\x", L"1:\\x"},
        {L"", L""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(Narrow(row.path));
        EXPECT_EQ(ExtendedPath(row.path), row.extended);
    }
}

}  // namespace
}  // namespace orvantis
