// The main window: its class, its controls and the procedure that handles the threads' messages.
#pragma once

#include "launcher/win.h"

namespace orvantis {

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// Registers the class, creates gWindow and its three controls (not yet shown).
void CreateMainWindow(HINSTANCE instance);

}  // namespace orvantis
