#include "tests/support/holder.h"

#include "launcher/owned.h"

namespace orvantis::test {
namespace {

void HoldOpen(Holder& holder, OwnedHandle file, DWORD holdMs) {
    holder.held = true;
    Sleep(holdMs);
    file.Reset();
    holder.done = true;
}

}  // namespace

void Holder::Now(Holder& holder, const std::wstring& path, DWORD holdMs) {
    OwnedHandle file = OpenFile(path.c_str(), GENERIC_READ, 0, OPEN_EXISTING);
    if (!file) {
        holder.done = true;
        return;
    }
    holder.held = true;
    holder.thread = std::thread([&holder, holdMs, f = std::move(file)]() mutable { HoldOpen(holder, std::move(f), holdMs); });
}

void Holder::WhenItAppears(Holder& holder, const std::wstring& path, DWORD holdMs, DWORD waitMs) {
    holder.thread = std::thread([&holder, path, holdMs, waitMs] {
        ULONGLONG end = GetTickCount64() + waitMs;
        while (GetTickCount64() < end) {
            OwnedHandle file = OpenFile(path.c_str(), GENERIC_READ, 0, OPEN_EXISTING);
            if (file) return HoldOpen(holder, std::move(file), holdMs);
            Sleep(1);
        }
        holder.done = true;
    });
}

Holder::~Holder() {
    if (thread.joinable()) thread.join();
}

}  // namespace orvantis::test
