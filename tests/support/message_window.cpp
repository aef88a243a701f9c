#include "tests/support/message_window.h"

#include <condition_variable>
#include <mutex>
#include <thread>

#include "launcher/constants.h"
#include "launcher/globals.h"

namespace orvantis::test {

struct MessageWindowState {
    mutable std::mutex mutex;
    mutable std::condition_variable changed;
    int answer = IDYES;
    std::vector<StatusLine> statuses;
    std::vector<std::wstring> questions;
    std::vector<int> finished;
    uint64_t flushes = 0;
    HWND window = nullptr;
    bool created = false;
    std::thread thread;
};

namespace {

const wchar_t kTestClass[] = L"OrvantisTestWindow";
constexpr UINT kMsgFlush = WM_APP + 40;

LRESULT CALLBACK TestWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
        auto* create = reinterpret_cast<CREATESTRUCTW*>(lParam);
        SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    }
    auto* state = reinterpret_cast<MessageWindowState*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (!state) return DefWindowProcW(window, message, wParam, lParam);
    switch (message) {
        case kMsgStatus: {
            // The posted string belongs to the window, exactly as with the real one.
            std::unique_ptr<std::wstring> text(reinterpret_cast<std::wstring*>(lParam));
            std::lock_guard<std::mutex> hold(state->mutex);
            state->statuses.push_back({text ? *text : std::wstring(), static_cast<int32_t>(wParam)});
            state->changed.notify_all();
            return 0;
        }
        case kMsgAsk: {
            std::lock_guard<std::mutex> hold(state->mutex);
            state->questions.push_back(reinterpret_cast<const wchar_t*>(lParam));
            state->changed.notify_all();
            return state->answer;
        }
        case kMsgFinished: {
            std::lock_guard<std::mutex> hold(state->mutex);
            state->finished.push_back(static_cast<int>(wParam));
            state->changed.notify_all();
            return 0;
        }
        case kMsgFlush: {
            std::lock_guard<std::mutex> hold(state->mutex);
            ++state->flushes;
            state->changed.notify_all();
            return 0;
        }
        case WM_DESTROY:
            PostQuitMessage(0);
            return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

void RegisterTestClass() {
    static std::once_flag once;
    std::call_once(once, [] {
        WNDCLASSW wc = {};
        wc.lpfnWndProc = TestWindowProc;
        wc.hInstance = GetModuleHandleW(nullptr);
        wc.lpszClassName = kTestClass;
        RegisterClassW(&wc);
    });
}

void WindowThread(MessageWindowState* state) {
    HWND window = CreateWindowExW(0, kTestClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                  GetModuleHandleW(nullptr), state);
    {
        std::lock_guard<std::mutex> hold(state->mutex);
        state->window = window;
        state->created = true;
        state->changed.notify_all();
    }
    if (!window) return;
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
}

}  // namespace

MessageWindow::MessageWindow(int answer) : state(new MessageWindowState) {
    state->answer = answer;
    RegisterTestClass();
    state->thread = std::thread(WindowThread, state.get());
    std::unique_lock<std::mutex> hold(state->mutex);
    state->changed.wait(hold, [this] { return state->created; });
    gWindow = state->window;
}

MessageWindow::~MessageWindow() {
    if (gWindow == state->window) gWindow = nullptr;
    if (state->window) PostMessageW(state->window, WM_CLOSE, 0, 0);
    state->thread.join();
}

void MessageWindow::SetAnswer(int answer) {
    std::lock_guard<std::mutex> hold(state->mutex);
    state->answer = answer;
}

std::vector<StatusLine> MessageWindow::Statuses() const {
    std::lock_guard<std::mutex> hold(state->mutex);
    return state->statuses;
}

std::vector<std::wstring> MessageWindow::Questions() const {
    std::lock_guard<std::mutex> hold(state->mutex);
    return state->questions;
}

std::vector<int> MessageWindow::Finished() const {
    std::lock_guard<std::mutex> hold(state->mutex);
    return state->finished;
}

StatusLine MessageWindow::Last() const {
    std::lock_guard<std::mutex> hold(state->mutex);
    return state->statuses.empty() ? StatusLine{} : state->statuses.back();
}

void MessageWindow::Flush() const {
    std::unique_lock<std::mutex> hold(state->mutex);
    uint64_t target = state->flushes + 1;
    // Posted messages are handled in the order they were posted, so once this one is
    // handled every earlier one is too.
    PostMessageW(state->window, kMsgFlush, 0, 0);
    state->changed.wait_for(hold, std::chrono::seconds(30), [&] { return state->flushes >= target; });
}

bool MessageWindow::WaitFinished(DWORD timeoutMs) const {
    std::unique_lock<std::mutex> hold(state->mutex);
    return state->changed.wait_for(hold, std::chrono::milliseconds(timeoutMs),
                                   [this] { return !state->finished.empty(); });
}

}  // namespace orvantis::test
