#include "launcher/constants.h"
#include "launcher/globals.h"
#include "launcher/options.h"
#include "launcher/window.h"
#include "update/update.h"

#include <commctrl.h>

using namespace orvantis;

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int show) {
    gFolder = FolderOf(ModulePath());
    DeleteFileW((gFolder + kOldSelfName).c_str());

    Options options = ReadOptions(CommandLineArgs(), gSite, gFiles);
    gAssumeYes = options.assumeYes;
    gVerifyOnly = options.verifyOnly;
    gSite = options.site;
    gFiles = options.files;

    INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_STANDARD_CLASSES | ICC_PROGRESS_CLASS};
    InitCommonControlsEx(&controls);
    CreateMainWindow(instance);
    ShowWindow(gWindow, show);

    // Neither kept nor waited for: closing the window ends the process, whatever the update is doing.
    CreateThread(nullptr, 0, Update, nullptr, 0, nullptr);

    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0)) {
        if (IsDialogMessageW(gWindow, &message)) continue;
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    return static_cast<int>(message.wParam);
}
