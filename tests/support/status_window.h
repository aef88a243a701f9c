// Stands in for the main window: receives what Status posts, so the lines are freed and can be read.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "launcher/constants.h"
#include "launcher/globals.h"

namespace orvantis::test {

struct StatusWindow {
    HWND previous = gWindow;
    HWND hwnd = CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
    StatusWindow() { gWindow = hwnd; }
    ~StatusWindow() {
        Drain();
        gWindow = previous;
        DestroyWindow(hwnd);
    }
    StatusWindow(const StatusWindow&) = delete;
    StatusWindow& operator=(const StatusWindow&) = delete;

    // The lines posted since the last call, with their percent.
    std::vector<std::pair<std::wstring, int32_t>> Drain() {
        std::vector<std::pair<std::wstring, int32_t>> out;
        MSG msg;
        while (PeekMessageW(&msg, hwnd, kMsgStatus, kMsgStatus, PM_REMOVE)) {
            auto* text = reinterpret_cast<std::wstring*>(msg.lParam);
            out.push_back({*text, static_cast<int32_t>(msg.wParam)});
            delete text;
        }
        return out;
    }
};

}  // namespace orvantis::test
