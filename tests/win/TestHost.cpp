#include "TestHost.h"

#include <algorithm>

namespace qz410test {

HRESULT STDMETHODCALLTYPE FakeDriverUi::QueryInterface(REFIID riid, void** ppv) {
    ++queries;
    if (IsEqualIID(riid, IID_IPrintOemDriverUI)) ++driverUiQueries;
    if (refuse) {
        *ppv = scribbleOnRefusal ? reinterpret_cast<void*>(0xDEADBEEF) : nullptr;
        return E_NOINTERFACE;
    }
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IPrintOemDriverUI)) {
        *ppv = this;
        AddRef();
        return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
}

std::vector<std::wstring> FilesInFolder(const std::wstring& folder) {
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((folder + L"\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return names;
    do {
        if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) names.push_back(found.cFileName);
    } while (FindNextFileW(search, &found));
    FindClose(search);
    std::sort(names.begin(), names.end());
    return names;
}

void PluginHost::SetUp() {
    // Loaded afresh for every test, so that the module's counts start at zero.
    module = LoadLibraryW(L"QZ410UI.DLL");
    ASSERT_NE(module, nullptr) << "LoadLibrary failed: " << GetLastError();
    getClassObject = reinterpret_cast<GetClassObjectFn>(reinterpret_cast<void*>(GetProcAddress(module, "DllGetClassObject")));
    canUnloadNow = reinterpret_cast<CanUnloadNowFn>(reinterpret_cast<void*>(GetProcAddress(module, "DllCanUnloadNow")));
    ASSERT_NE(getClassObject, nullptr);
    ASSERT_NE(canUnloadNow, nullptr);
}

void PluginHost::TearDown() {
    if (module != nullptr) {
        if (canUnloadNow != nullptr) {
            EXPECT_EQ(canUnloadNow(), S_OK) << "the test left objects or locks behind";
        }
        FreeLibrary(module);
    }
}

IClassFactory* PluginHost::GetFactory() {
    IClassFactory* factory = nullptr;
    EXPECT_EQ(getClassObject(CLSID_QZ410UI, IID_IClassFactory, reinterpret_cast<void**>(&factory)), S_OK);
    return factory;
}

IPrintOemUI* PluginHost::CreatePlugin() {
    IClassFactory* factory = GetFactory();
    if (factory == nullptr) return nullptr;
    IPrintOemUI* plugin = nullptr;
    EXPECT_EQ(factory->CreateInstance(nullptr, IID_IPrintOemUI, reinterpret_cast<void**>(&plugin)), S_OK);
    factory->Release();
    return plugin;
}

}  // namespace qz410test
