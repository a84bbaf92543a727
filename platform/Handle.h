// One owner type for every Win32 handle kind: move-only, closed exactly once;
// and the scope owners of device contexts and of what is selected into them.
#pragma once

#include "platform/WinApi.h"

#include <utility>

namespace velmo {

template <class Traits> class UniqueHandle {
  public:
    using Type = typename Traits::Type;
    UniqueHandle() noexcept = default;
    explicit UniqueHandle(Type handle) noexcept : handle_(handle) {}
    UniqueHandle(UniqueHandle&& other) noexcept : handle_(other.Release()) {}
    UniqueHandle& operator=(UniqueHandle&& other) noexcept {
        if (this != &other)
            Reset(other.Release());
        return *this;
    }
    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;
    ~UniqueHandle() { Reset(); }

    Type Get() const noexcept { return handle_; }
    explicit operator bool() const noexcept { return handle_ != Traits::Invalid(); }
    Type Release() noexcept { return std::exchange(handle_, Traits::Invalid()); }
    void Reset(Type handle = Traits::Invalid()) noexcept {
        if (handle_ != Traits::Invalid())
            Traits::Close(handle_);
        handle_ = handle;
    }

  private:
    Type handle_ = Traits::Invalid();
};

struct FileHandleTraits {
    using Type = HANDLE;
    static Type Invalid() noexcept { return INVALID_HANDLE_VALUE; }
    static void Close(Type h) noexcept { ::CloseHandle(h); }
};
struct KernelHandleTraits {
    using Type = HANDLE;
    static Type Invalid() noexcept { return nullptr; }
    static void Close(Type h) noexcept { ::CloseHandle(h); }
};
template <class Handle> struct GdiObjectTraits {
    using Type = Handle;
    static Type Invalid() noexcept { return nullptr; }
    static void Close(Type h) noexcept { ::DeleteObject(h); }
};

struct FindHandleTraits {
    using Type = HANDLE;
    static Type Invalid() noexcept { return INVALID_HANDLE_VALUE; }
    static void Close(Type h) noexcept { ::FindClose(h); }
};

struct AcceleratorTraits {
    using Type = HACCEL;
    static Type Invalid() noexcept { return nullptr; }
    static void Close(Type h) noexcept { ::DestroyAcceleratorTable(h); }
};

struct WindowTraits {
    using Type = HWND;
    static Type Invalid() noexcept { return nullptr; }
    static void Close(Type h) noexcept { ::DestroyWindow(h); }
};

struct HookTraits {
    using Type = HHOOK;
    static Type Invalid() noexcept { return nullptr; }
    static void Close(Type h) noexcept { ::UnhookWindowsHookEx(h); }
};

using AutoFind = UniqueHandle<FindHandleTraits>;     // FindFirstFile searches
using AutoFile = UniqueHandle<FileHandleTraits>;     // CreateFile results
using AutoHandle = UniqueHandle<KernelHandleTraits>; // processes, threads, events
using AutoFont = UniqueHandle<GdiObjectTraits<HFONT>>;
using AutoBrush = UniqueHandle<GdiObjectTraits<HBRUSH>>;
using AutoBitmap = UniqueHandle<GdiObjectTraits<HBITMAP>>;
using AutoAccelerators = UniqueHandle<AcceleratorTraits>; // CreateAcceleratorTable results
using AutoWindow = UniqueHandle<WindowTraits>;            // windows this thread made and ends
using AutoHook = UniqueHandle<HookTraits>;                // SetWindowsHookEx results

// ---- device contexts, which are given back rather than closed

// The device context of a window's client area (of the screen for null), for
// as long as this lives. Get() is null when none was given.
class WindowDc {
  public:
    explicit WindowDc(HWND window) noexcept : window_(window), dc_(::GetDC(window)) {}
    ~WindowDc() {
        if (dc_)
            ::ReleaseDC(window_, dc_);
    }
    WindowDc(const WindowDc&) = delete;
    WindowDc& operator=(const WindowDc&) = delete;
    HDC Get() const noexcept { return dc_; }

  private:
    HWND window_;
    HDC dc_;
};

// A memory DC like `like` with `bitmap` selected for as long as it lives.
class MemoryDc {
  public:
    MemoryDc(HDC like, HBITMAP bitmap) noexcept : dc_(::CreateCompatibleDC(like)) {
        if (dc_)
            old_ = ::SelectObject(dc_, bitmap);
    }
    ~MemoryDc() {
        if (dc_) {
            ::SelectObject(dc_, old_);
            ::DeleteDC(dc_);
        }
    }
    MemoryDc(const MemoryDc&) = delete;
    MemoryDc& operator=(const MemoryDc&) = delete;
    HDC Get() const noexcept { return dc_; }

  private:
    HDC dc_;
    HGDIOBJ old_ = nullptr;
};

// Selects a GDI object into a DC for as long as it lives.
class Selection {
  public:
    Selection(HDC dc, HGDIOBJ object) noexcept : dc_(dc), old_(::SelectObject(dc, object)) {}
    ~Selection() { ::SelectObject(dc_, old_); }
    Selection(const Selection&) = delete;
    Selection& operator=(const Selection&) = delete;

  private:
    HDC dc_;
    HGDIOBJ old_;
};

} // namespace velmo
