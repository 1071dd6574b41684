#include "plugin/PluginClassFactory.h"

#include <new>

#include "plugin/Module.h"
#include "plugin/PrinterUiPlugin.h"

namespace qz410 {

void* PluginClassFactory::operator new(std::size_t size, const std::nothrow_t&) noexcept {
    return HeapAlloc(GetProcessHeap(), 0, size);
}

void PluginClassFactory::operator delete(void* memory) noexcept { HeapFree(GetProcessHeap(), 0, memory); }

HRESULT STDMETHODCALLTYPE PluginClassFactory::QueryInterface(REFIID riid, void** ppv) noexcept {
    if (ppv == nullptr) return E_POINTER;
    if (!IsEqualIID(riid, IID_IUnknown) && !IsEqualIID(riid, IID_IClassFactory)) {
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    *ppv = static_cast<IClassFactory*>(this);
    AddRef();
    return S_OK;
}

ULONG STDMETHODCALLTYPE PluginClassFactory::AddRef() noexcept {
    return static_cast<ULONG>(InterlockedIncrement(&refCount));
}

ULONG STDMETHODCALLTYPE PluginClassFactory::Release() noexcept {
    const LONG count = InterlockedDecrement(&refCount);
    if (count != 0) return static_cast<ULONG>(count);
    delete this;
    return 0;
}

HRESULT STDMETHODCALLTYPE PluginClassFactory::CreateInstance(IUnknown* pUnkOuter, REFIID riid, void** ppv) noexcept {
    if (pUnkOuter != nullptr) return CLASS_E_NOAGGREGATION;
    if (ppv == nullptr) return E_POINTER;
    auto* plugin = new (std::nothrow) PrinterUiPlugin();
    if (plugin == nullptr) return E_OUTOFMEMORY;
    // The caller ends up as the only owner; an identifier the object refuses
    // destroys it again here.
    const HRESULT result = plugin->QueryInterface(riid, ppv);
    plugin->Release();
    return result;
}

HRESULT STDMETHODCALLTYPE PluginClassFactory::LockServer(BOOL fLock) noexcept {
    if (fLock) {
        InterlockedIncrement(&serverLockCount);
    } else {
        InterlockedDecrement(&serverLockCount);
    }
    return S_OK;
}

}  // namespace qz410
