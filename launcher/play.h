// Starting the game.
#pragma once

#include <string>

#include "launcher/win.h"

namespace orvantis {

// Starts Main.exe with "/orvantis" and ends the message loop, or explains why not.
void Play();

// The message box text for a failed start with error code, given whether Main.exe is now missing.
std::wstring PlayFailureText(DWORD code, bool mainMissing);

}  // namespace orvantis
