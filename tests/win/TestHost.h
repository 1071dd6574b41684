// A stand-in for the driver's core UI module: it loads QZ410UI.DLL from the
// test's own folder and reaches it only through the two exports and the
// interfaces they hand out, as the real host does.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "plugin/HostContract.h"

namespace qz410test {

using GetClassObjectFn = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, LPVOID*);
using CanUnloadNowFn = HRESULT(STDAPICALLTYPE*)();

// The host's IPrintOemDriverUI, reduced to its IUnknown part, counting what
// the plug-in asks of it.
class FakeDriverUi final : public IUnknown {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override;
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs; }
    ULONG STDMETHODCALLTYPE Release() override { return --refs; }

    LONG refs = 1;                 // the host's own reference
    int queries = 0;               // QueryInterface calls of any kind
    int driverUiQueries = 0;       // ... for IID_IPrintOemDriverUI
    bool refuse = false;           // answer E_NOINTERFACE
    bool scribbleOnRefusal = false;  // leave garbage at ppv when refusing
};

// The names of the files (not folders) in `folder`, sorted.
std::vector<std::wstring> FilesInFolder(const std::wstring& folder);

class PluginHost : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // A fresh plug-in object through the class factory, as the host makes it.
    IPrintOemUI* CreatePlugin();
    IClassFactory* GetFactory();

    HMODULE module = nullptr;
    GetClassObjectFn getClassObject = nullptr;
    CanUnloadNowFn canUnloadNow = nullptr;
};

}  // namespace qz410test
