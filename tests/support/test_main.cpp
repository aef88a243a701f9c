#include <gtest/gtest.h>

#include "launcher/win.h"

int wmain(int argc, wchar_t** argv) {
    // A crash must fail the test, not wait for someone to close an error dialog.
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
