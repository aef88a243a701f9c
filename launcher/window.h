// The main window: its class, its controls and the procedure that handles the threads' messages.
#pragma once

#include "launcher/win.h"

namespace orvantis {

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// The exit code when the player closes the window: 0, except 1 for a verify-only run that has
// not ended ready (runOver: the update run's end has arrived).
int ClosedExitCode(bool verifyOnly, bool runOver, bool ready);

// Registers the class, creates gWindow and its three controls (not yet shown).
void CreateMainWindow(HINSTANCE instance);

}  // namespace orvantis
