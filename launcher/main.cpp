#include "launcher/constants.h"
#include "launcher/extended_path.h"
#include "launcher/globals.h"
#include "launcher/one_per_folder.h"
#include "launcher/options.h"
#include "launcher/verify_result.h"
#include "launcher/window.h"
#include "update/update.h"

#include <commctrl.h>

using namespace orvantis;

namespace {

// Long enough for a launcher started by the same double click to show its window.
constexpr DWORD kOwnerWaitMs = 5000;

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int show) {
    gFolder = FolderOf(ModulePath());
    Options options = ReadOptions(CommandLineArgs(), gSite, gFiles);
    // Two launchers in one folder would fight over every ".part" file and remove each other's
    // leftovers. The second one touches nothing, not even the log: it shows the first and leaves.
    // A verify-only run that verified nothing must not pass for "ready", so it ends with 1 and
    // leaves the result file to the run that holds the folder.
    if (!ClaimFolder(gFolder)) {
        ShowFolderOwner(gFolder, kOwnerWaitMs);
        return options.verifyOnly ? 1 : 0;
    }
    DeleteFileW(ExtendedPath(gFolder + kOldSelfName).c_str());
    // Only once the folder is this run's: the result a running launcher of the folder is about to
    // write is not ours to remove.
    if (options.verifyOnly) RemoveVerifyResult();

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
