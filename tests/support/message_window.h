// Stands in for the main window while the real update thread runs inside a test.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "launcher/win.h"

namespace orvantis::test {

struct StatusLine {
    std::wstring text;
    int32_t percent = 0;
};

struct MessageWindowState;

// A hidden window on a thread of its own, set as gWindow while it lives. It records every
// status line (and frees the posted string as the real window does), answers the install
// question with `answer` and records the question, and records the flag of kMsgFinished.
struct MessageWindow {
    std::unique_ptr<MessageWindowState> state;

    explicit MessageWindow(int answer = IDYES);
    ~MessageWindow();
    MessageWindow(const MessageWindow&) = delete;
    MessageWindow& operator=(const MessageWindow&) = delete;

    void SetAnswer(int answer);
    std::vector<StatusLine> Statuses() const;
    std::vector<std::wstring> Questions() const;
    // Flags of every kMsgFinished received, in order.
    std::vector<int> Finished() const;
    // The last status line; empty text when there was none.
    StatusLine Last() const;
    // Returns once every message posted to the window before this call has been handled.
    void Flush() const;
    // True once kMsgFinished has arrived (within timeoutMs).
    bool WaitFinished(DWORD timeoutMs) const;
};

// Runs Update on a thread of its own; true when it posted kMsgFinished and returned
// within timeoutMs. On false the thread may still be running.
bool RunUpdate(MessageWindow& window, DWORD timeoutMs = 60000);

}  // namespace orvantis::test
