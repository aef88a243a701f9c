#include "launcher/window.h"

#include <commctrl.h>

#include <string>

#include "launcher/constants.h"
#include "launcher/globals.h"
#include "launcher/play.h"
#include "launcher/verify_result.h"

namespace orvantis {
namespace {

// Set when the update run has ended, so that closing the window afterwards keeps its outcome.
bool gRunOver = false;

LRESULT OnCommand(WPARAM wParam) {
    if (LOWORD(wParam) == kPlayId) Play();
    return 0;
}

// The timer is one-shot: stopped before Play, so a failed start does not repeat by itself.
LRESULT OnTimer(HWND window, WPARAM wParam) {
    if (wParam == kPlayTimer) {
        KillTimer(window, kPlayTimer);
        Play();
    }
    return 0;
}

LRESULT OnStatus(WPARAM wParam, LPARAM lParam) {
    auto* text = reinterpret_cast<std::wstring*>(lParam);
    SetWindowTextW(gStatus, text->c_str());
    int32_t percent = static_cast<int32_t>(wParam);
    if (percent >= 0) SendMessageW(gProgress, PBM_SETPOS, static_cast<WPARAM>(percent), 0);
    delete text;
    return 0;
}

LRESULT OnFinished(HWND window, WPARAM wParam) {
    gRunOver = true;
    if (gVerifyOnly) {
        WriteVerifyResult(gReady);
        PostQuitMessage(gReady ? 0 : 1);
    } else if (wParam == 1) {
        PostQuitMessage(0);
    } else {
        SendMessageW(gProgress, PBM_SETPOS, 100, 0);
        EnableWindow(gPlay, TRUE);
        SetFocus(gPlay);
        if (gReady) SetTimer(window, kPlayTimer, 1500, nullptr);
    }
    return 0;
}

LRESULT OnAsk(HWND window, LPARAM lParam) {
    return MessageBoxW(window, reinterpret_cast<const wchar_t*>(lParam), kCaption, MB_YESNO | MB_ICONQUESTION);
}

// Post a quit message because the launcher is over when the user closes this window,
// also in the middle of an update: the other threads end with the process.
LRESULT OnDestroy() {
    PostQuitMessage(ClosedExitCode(gVerifyOnly, gRunOver, gReady));
    return 0;
}

HWND Control(const wchar_t* cls, const wchar_t* text, DWORD style, int x, int y, int w, int h, int id,
             HINSTANCE instance) {
    return CreateWindowExW(0, cls, text, style, x, y, w, h, gWindow,
                           reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), instance, nullptr);
}

}  // namespace

// Scripts read 0 from a verify-only run as "ready": a run closed before its end verified nothing.
int ClosedExitCode(bool verifyOnly, bool runOver, bool ready) { return verifyOnly && !(runOver && ready) ? 1 : 0; }

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_COMMAND: return OnCommand(wParam);
        case WM_TIMER: return OnTimer(window, wParam);
        case kMsgStatus: return OnStatus(wParam, lParam);
        case kMsgFinished: return OnFinished(window, wParam);
        case kMsgAsk: return OnAsk(window, lParam);
        case WM_DESTROY: return OnDestroy();
        default: return DefWindowProcW(window, message, wParam, lParam);
    }
}

void CreateMainWindow(HINSTANCE instance) {
    WNDCLASSW cls = {};
    cls.lpfnWndProc = WindowProc;
    cls.hInstance = instance;
    cls.hIcon = LoadIconW(instance, MAKEINTRESOURCEW(1));
    cls.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    cls.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_BTNFACE + 1));
    cls.lpszClassName = kClassName;
    RegisterClassW(&cls);

    // Fixed size: no thick frame and no maximise box.
    gWindow = CreateWindowExW(0, kClassName, kCaption, WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX, CW_USEDEFAULT,
                              CW_USEDEFAULT, 540, 190, nullptr, nullptr, instance, nullptr);
    HGDIOBJ font = GetStockObject(DEFAULT_GUI_FONT);
    gStatus = Control(L"STATIC", L"Preparando...", WS_CHILD | WS_VISIBLE, 20, 20, 490, 40, 0, instance);
    gProgress = Control(PROGRESS_CLASSW, nullptr, WS_CHILD | WS_VISIBLE, 20, 68, 490, 20, 0, instance);
    gPlay = Control(L"BUTTON", L"Jugar", WS_CHILD | WS_VISIBLE | WS_DISABLED | BS_DEFPUSHBUTTON, 390, 102, 120, 32,
                    kPlayId, instance);
    SendMessageW(gStatus, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
    SendMessageW(gPlay, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
    SendMessageW(gProgress, PBM_SETRANGE, 0, MAKELPARAM(0, 100));
}

}  // namespace orvantis
