// One owner type for every kind of Win32 resource: a kind is a small traits
// type (files, modules, heap blocks, GDI objects, device contexts, selections,
// registry keys, printers). Releasing a resource
// keeps the thread's last error as it was: callers report failures through
// the last error, and a clean-up on the way out must not overwrite it.
#pragma once

#include <windows.h>
#include <winspool.h>

#include <new>
#include <utility>

namespace qz410 {

// Traits: `type`, `static type Invalid()`, and `void Close(type)`. Traits may
// carry state (the heap of a heap block, the DC of a selection).
template <typename Traits>
class UniqueResource {
public:
    using Type = typename Traits::Type;

    UniqueResource() noexcept : value_(Traits::Invalid()) {}
    explicit UniqueResource(Type value, Traits traits = Traits()) noexcept : value_(value), traits_(traits) {}
    UniqueResource(const UniqueResource&) = delete;
    UniqueResource& operator=(const UniqueResource&) = delete;
    UniqueResource(UniqueResource&& other) noexcept : value_(other.Release()), traits_(other.traits_) {}
    UniqueResource& operator=(UniqueResource&& other) noexcept {
        if (this != &other) {
            Reset(other.Release());
            traits_ = other.traits_;
        }
        return *this;
    }
    ~UniqueResource() { Reset(); }

    Type Get() const noexcept { return value_; }
    explicit operator bool() const noexcept { return value_ != Traits::Invalid(); }

    Type Release() noexcept { return std::exchange(value_, Traits::Invalid()); }

    void Reset(Type value = Traits::Invalid()) noexcept {
        Type old = std::exchange(value_, value);
        if (old != Traits::Invalid()) {
            const DWORD lastError = GetLastError();
            traits_.Close(old);
            SetLastError(lastError);
        }
    }

private:
    Type value_;
    [[no_unique_address]] Traits traits_;
};

struct FileHandleTraits {
    using Type = HANDLE;
    static Type Invalid() noexcept { return INVALID_HANDLE_VALUE; }
    void Close(Type h) const noexcept { CloseHandle(h); }
};
using UniqueFile = UniqueResource<FileHandleTraits>;

struct ModuleTraits {
    using Type = HMODULE;
    static Type Invalid() noexcept { return nullptr; }
    void Close(Type h) const noexcept { FreeLibrary(h); }
};
using UniqueModule = UniqueResource<ModuleTraits>;

struct HeapBlockTraits {
    using Type = void*;
    HANDLE heap = GetProcessHeap();
    static Type Invalid() noexcept { return nullptr; }
    void Close(Type p) const noexcept { HeapFree(heap, 0, p); }
};
using UniqueHeapBlock = UniqueResource<HeapBlockTraits>;

// Bitmaps, fonts, pens and brushes that the code created (not stock or shared
// objects, which must never be deleted).
struct GdiObjectTraits {
    using Type = HGDIOBJ;
    static Type Invalid() noexcept { return nullptr; }
    void Close(Type h) const noexcept { DeleteObject(h); }
};
using UniqueGdiObject = UniqueResource<GdiObjectTraits>;

// A device context the code created (CreateCompatibleDC).
struct DcTraits {
    using Type = HDC;
    static Type Invalid() noexcept { return nullptr; }
    void Close(Type h) const noexcept { DeleteDC(h); }
};
using UniqueDc = UniqueResource<DcTraits>;

// An object selected into a DC: holds what SelectObject gave back and puts
// it back, so that the selected object can be deleted afterwards.
struct SelectionTraits {
    using Type = HGDIOBJ;
    HDC dc = nullptr;
    static Type Invalid() noexcept { return nullptr; }
    void Close(Type previous) const noexcept { SelectObject(dc, previous); }
};
using UniqueSelection = UniqueResource<SelectionTraits>;
inline UniqueSelection SelectInto(HDC dc, HGDIOBJ object) noexcept {
    HGDIOBJ previous = SelectObject(dc, object);
    return UniqueSelection(previous == HGDI_ERROR ? nullptr : previous, SelectionTraits{dc});
}

struct RegKeyTraits {
    using Type = HKEY;
    static Type Invalid() noexcept { return nullptr; }
    void Close(Type h) const noexcept { RegCloseKey(h); }
};
using UniqueRegKey = UniqueResource<RegKeyTraits>;

struct PrinterTraits {
    using Type = HANDLE;
    static Type Invalid() noexcept { return nullptr; }
    void Close(Type h) const noexcept { ClosePrinter(h); }
};
using UniquePrinter = UniqueResource<PrinterTraits>;

// An object built in a block of the process heap, for state that must live
// longer than one call (operator new would throw where HeapAlloc answers
// null); its destructor runs before the block is freed.
template <typename T>
struct HeapObjectTraits {
    using Type = T*;
    static Type Invalid() noexcept { return nullptr; }
    void Close(Type object) const noexcept {
        object->~T();
        HeapFree(GetProcessHeap(), 0, object);
    }
};
template <typename T>
using UniqueHeapObject = UniqueResource<HeapObjectTraits<T>>;

// A value-initialised T in a fresh heap block; empty when the heap is full.
template <typename T>
UniqueHeapObject<T> MakeHeapObject() noexcept {
    void* block = HeapAlloc(GetProcessHeap(), 0, sizeof(T));
    return UniqueHeapObject<T>(block == nullptr ? nullptr : ::new (block) T());
}

// A COM interface pointer the code holds a reference of.
template <typename Interface>
struct ComTraits {
    using Type = Interface*;
    static Type Invalid() noexcept { return nullptr; }
    void Close(Type object) const noexcept { object->Release(); }
};
template <typename Interface>
using UniqueCom = UniqueResource<ComTraits<Interface>>;

// COM initialised on this thread by the code, and so to be undone by it:
// CoInitializeEx answered S_OK or S_FALSE. A thread that had COM in another
// apartment (RPC_E_CHANGED_MODE) is left as it was.
struct ComApartmentTraits {
    using Type = bool;
    static Type Invalid() noexcept { return false; }
    void Close(Type) const noexcept { CoUninitialize(); }
};
using UniqueComApartment = UniqueResource<ComApartmentTraits>;

}  // namespace qz410

namespace qz410 {

// The device context of one WM_PAINT: ends the painting (EndPaint) so that
// the update region is validated on every path.
struct PaintTraits {
    using Type = HDC;
    HWND window = nullptr;
    const PAINTSTRUCT* paint = nullptr;
    static Type Invalid() noexcept { return nullptr; }
    void Close(Type) const noexcept { EndPaint(window, paint); }
};
using UniquePaint = UniqueResource<PaintTraits>;

// A file by its path that is deleted unless released: a temporary file that
// is moved into place once it is complete.
struct TemporaryFileTraits {
    using Type = const wchar_t*;
    static Type Invalid() noexcept { return nullptr; }
    void Close(Type path) const noexcept { DeleteFileW(path); }
};
using UniqueTemporaryFile = UniqueResource<TemporaryFileTraits>;

}  // namespace qz410
