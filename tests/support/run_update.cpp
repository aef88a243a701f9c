#include "launcher/win.h"
#include "tests/support/message_window.h"
#include "update/update.h"

namespace orvantis::test {

bool RunUpdate(MessageWindow& window, DWORD timeoutMs) {
    ULONGLONG start = GetTickCount64();
    HANDLE thread = CreateThread(nullptr, 0, Update, nullptr, 0, nullptr);
    if (!thread) return false;
    if (!window.WaitFinished(timeoutMs)) return false;  // the handle is leaked with the stuck thread
    ULONGLONG spent = GetTickCount64() - start;
    DWORD left = spent < timeoutMs ? static_cast<DWORD>(timeoutMs - spent) : 0;
    bool ended = WaitForSingleObject(thread, left) == WAIT_OBJECT_0;
    if (ended) CloseHandle(thread);
    return ended;
}

}  // namespace orvantis::test
