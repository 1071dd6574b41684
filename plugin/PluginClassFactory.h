// The class factory of the one class this library serves.
#pragma once

#include <windows.h>
#include <unknwn.h>

namespace qz410 {

class PluginClassFactory final : public IClassFactory {
public:
    PluginClassFactory() noexcept : refCount(1) {}

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) noexcept override;
    ULONG STDMETHODCALLTYPE AddRef() noexcept override;
    ULONG STDMETHODCALLTYPE Release() noexcept override;
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* pUnkOuter, REFIID riid, void** ppv) noexcept override;
    HRESULT STDMETHODCALLTYPE LockServer(BOOL fLock) noexcept override;

private:
    ~PluginClassFactory() = default;

    volatile LONG refCount;
};

}  // namespace qz410
