// One launcher per game folder: a second one shows the first and leaves.
#pragma once

#include <string>

#include "launcher/win.h"

namespace orvantis {

// The name of a game folder as Windows compares names: the same for every spelling of one
// folder (letter case, short names, the "\\?\" form), different for any other folder.
std::wstring FolderKey(const std::wstring& folder);

// Claims folder for this process until it ends. False when another launcher holds it.
bool ClaimFolder(const std::wstring& folder);

// The main window of the other launcher that holds folder; null when there is none.
HWND FolderOwnerWindow(const std::wstring& folder);

// Brings the window of the launcher that holds folder to the front, waiting up to waitMs for it
// to appear (a double click starts both launchers at once). False when none appeared.
bool ShowFolderOwner(const std::wstring& folder, DWORD waitMs);

}  // namespace orvantis
