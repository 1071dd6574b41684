// The class factory of the one class this library serves.
#pragma once

#include <windows.h>
#include <unknwn.h>

#include <cstddef>
#include <new>

namespace qz410 {

class PluginClassFactory final : public IClassFactory {
public:
    PluginClassFactory() noexcept : refCount(1) {}

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) noexcept override;
    ULONG STDMETHODCALLTYPE AddRef() noexcept override;
    ULONG STDMETHODCALLTYPE Release() noexcept override;
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* pUnkOuter, REFIID riid, void** ppv) noexcept override;
    HRESULT STDMETHODCALLTYPE LockServer(BOOL fLock) noexcept override;

    // On the process heap: null when memory runs out, and no exception on
    // the way (the C++ runtime's nothrow new throws internally).
    static void* operator new(std::size_t size, const std::nothrow_t&) noexcept;
    static void operator delete(void* memory) noexcept;
    static void* operator new(std::size_t size) = delete;

private:
    ~PluginClassFactory() = default;

    volatile LONG refCount;
};

}  // namespace qz410
