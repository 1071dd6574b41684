// The in-process server's entry points.
#include <windows.h>

#include <new>

#include "plugin/HostContract.h"
#include "plugin/Module.h"
#include "plugin/PluginClassFactory.h"

namespace qz410 {

HINSTANCE moduleInstance = nullptr;
volatile LONG liveObjectCount = 0;
volatile LONG serverLockCount = 0;

}  // namespace qz410

using namespace qz410;

extern "C" BOOL WINAPI DllMain(HINSTANCE hinstDLL, DWORD fdwReason, LPVOID) {
    if (fdwReason == DLL_PROCESS_ATTACH) moduleInstance = hinstDLL;
    return TRUE;
}

extern "C" HRESULT STDAPICALLTYPE DllGetClassObject(REFCLSID rclsid, REFIID riid, LPVOID* ppv) {
    if (!IsEqualCLSID(rclsid, CLSID_QZ410UI)) return CLASS_E_CLASSNOTAVAILABLE;
    if (ppv == nullptr) return E_POINTER;
    auto* factory = new (std::nothrow) PluginClassFactory();
    if (factory == nullptr) return E_OUTOFMEMORY;
    const HRESULT result = factory->QueryInterface(riid, ppv);
    factory->Release();
    return result;
}

extern "C" HRESULT STDAPICALLTYPE DllCanUnloadNow() {
    return (liveObjectCount == 0 && serverLockCount == 0) ? S_OK : S_FALSE;
}
