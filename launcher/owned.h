// Move-only owner of one platform handle, closed on destruction or reassignment.
#pragma once

#include "launcher/win.h"

namespace orvantis {

template <typename H, void (*Close)(H)>
struct Owned {
    H h = nullptr;
    Owned() = default;
    explicit Owned(H v) : h(v) {}
    Owned(Owned&& o) noexcept : h(o.Release()) {}
    Owned& operator=(Owned&& o) noexcept {
        if (this != &o) {
            Reset();
            h = o.Release();
        }
        return *this;
    }
    Owned(const Owned&) = delete;
    Owned& operator=(const Owned&) = delete;
    ~Owned() { Reset(); }
    void Reset() {
        if (h) Close(h);
        h = nullptr;
    }
    H Release() {
        H v = h;
        h = nullptr;
        return v;
    }
    explicit operator bool() const { return h != nullptr; }
};

inline void CloseKernelHandle(HANDLE h) { CloseHandle(h); }
inline void CloseFind(HANDLE h) { FindClose(h); }

using OwnedHandle = Owned<HANDLE, CloseKernelHandle>;
using OwnedFind = Owned<HANDLE, CloseFind>;

// CreateFileW and FindFirstFileW report failure as INVALID_HANDLE_VALUE; an Owned
// means "empty" only as null, so map it here, at the one place handles are made.
inline OwnedHandle OpenFile(const wchar_t* path, DWORD access, DWORD share, DWORD disposition,
                            DWORD flags = FILE_ATTRIBUTE_NORMAL) {
    HANDLE h = CreateFileW(path, access, share, nullptr, disposition, flags, nullptr);
    return OwnedHandle(h == INVALID_HANDLE_VALUE ? nullptr : h);
}

inline OwnedFind FindFirst(const wchar_t* pattern, WIN32_FIND_DATAW* data) {
    HANDLE h = FindFirstFileW(pattern, data);
    return OwnedFind(h == INVALID_HANDLE_VALUE ? nullptr : h);
}

}  // namespace orvantis
