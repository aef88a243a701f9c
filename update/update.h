// The update thread: manifest, first-install question, check, downloads, outcome.
#pragma once

#include "launcher/win.h"

namespace orvantis {

// Thread entry; the argument is unused. Posts kMsgFinished to gWindow when done.
DWORD WINAPI Update(void*);

}  // namespace orvantis
