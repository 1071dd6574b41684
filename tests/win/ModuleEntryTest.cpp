// The in-process server's entry points and class factory, through the DLL.
#include "TestHost.h"

namespace qz410test {
namespace {

void* const kUntouched = reinterpret_cast<void*>(0x1234);

class ModuleEntry : public PluginHost {};

TEST_F(ModuleEntry, RefusesOtherClassesWithoutTouchingTheOutPointer) {
    void* out = kUntouched;
    CLSID other = CLSID_QZ410UI;
    other.Data4[7] ^= 1;  // differs in the last byte only
    EXPECT_EQ(getClassObject(other, IID_IClassFactory, &out), CLASS_E_CLASSNOTAVAILABLE);
    EXPECT_EQ(getClassObject(IID_IPrintOemUI, IID_IClassFactory, &out), CLASS_E_CLASSNOTAVAILABLE);
    EXPECT_EQ(out, kUntouched);
}

TEST_F(ModuleEntry, FactoryAnswersOnlyUnknownAndClassFactory) {
    void* out = kUntouched;
    EXPECT_EQ(getClassObject(CLSID_QZ410UI, IID_IPrintOemUI, &out), E_NOINTERFACE);
    EXPECT_EQ(out, nullptr);

    IUnknown* unknown = nullptr;
    ASSERT_EQ(getClassObject(CLSID_QZ410UI, IID_IUnknown, reinterpret_cast<void**>(&unknown)), S_OK);
    IClassFactory* factory = nullptr;
    ASSERT_EQ(unknown->QueryInterface(IID_IClassFactory, reinterpret_cast<void**>(&factory)), S_OK);
    EXPECT_EQ(static_cast<void*>(factory), static_cast<void*>(unknown));
    out = kUntouched;
    EXPECT_EQ(factory->QueryInterface(IID_IPrintOemDriverUI, &out), E_NOINTERFACE);
    EXPECT_EQ(out, nullptr);
    // The caller holds exactly the two references it asked for.
    EXPECT_EQ(factory->AddRef(), 3u);
    EXPECT_EQ(factory->Release(), 2u);
    EXPECT_EQ(factory->Release(), 1u);
    EXPECT_EQ(unknown->Release(), 0u);
}

TEST_F(ModuleEntry, NullOutPointersAreRefusedNotDereferenced) {
    EXPECT_EQ(getClassObject(CLSID_QZ410UI, IID_IClassFactory, nullptr), E_POINTER);
    IClassFactory* factory = GetFactory();
    ASSERT_NE(factory, nullptr);
    EXPECT_EQ(factory->QueryInterface(IID_IUnknown, nullptr), E_POINTER);
    EXPECT_EQ(factory->CreateInstance(nullptr, IID_IPrintOemUI, nullptr), E_POINTER);
    EXPECT_EQ(canUnloadNow(), S_OK);
    factory->Release();
}

TEST_F(ModuleEntry, CreateInstanceRefusesAggregationAndForeignInterfaces) {
    IClassFactory* factory = GetFactory();
    ASSERT_NE(factory, nullptr);
    FakeDriverUi outer;
    void* out = kUntouched;
    EXPECT_EQ(factory->CreateInstance(&outer, IID_IUnknown, &out), CLASS_E_NOAGGREGATION);
    EXPECT_EQ(out, kUntouched);
    EXPECT_EQ(outer.queries, 0);

    EXPECT_EQ(factory->CreateInstance(nullptr, IID_IClassFactory, &out), E_NOINTERFACE);
    EXPECT_EQ(out, nullptr);
    // The object made for the refused identifier is gone again.
    EXPECT_EQ(canUnloadNow(), S_OK);
    factory->Release();
}

TEST_F(ModuleEntry, LiveObjectsKeepTheModuleButAHeldFactoryDoesNot) {
    IClassFactory* factory = GetFactory();
    ASSERT_NE(factory, nullptr);
    IUnknown* unknown = nullptr;
    ASSERT_EQ(factory->CreateInstance(nullptr, IID_IUnknown, reinterpret_cast<void**>(&unknown)), S_OK);
    EXPECT_EQ(canUnloadNow(), S_FALSE);
    IPrintOemUI* plugin = nullptr;
    ASSERT_EQ(unknown->QueryInterface(IID_IPrintOemUI, reinterpret_cast<void**>(&plugin)), S_OK);
    IUnknown* second = nullptr;
    ASSERT_EQ(factory->CreateInstance(nullptr, IID_IPrintOemUI, reinterpret_cast<void**>(&second)), S_OK);
    EXPECT_NE(second, unknown);

    EXPECT_EQ(plugin->Release(), 1u);
    EXPECT_EQ(unknown->Release(), 0u);
    EXPECT_EQ(canUnloadNow(), S_FALSE);  // the second object lives on
    EXPECT_EQ(second->Release(), 0u);
    EXPECT_EQ(canUnloadNow(), S_OK);
    factory->Release();
}

TEST_F(ModuleEntry, LockCountHasNoFloor) {
    IClassFactory* factory = GetFactory();
    ASSERT_NE(factory, nullptr);
    EXPECT_EQ(factory->LockServer(TRUE), S_OK);
    EXPECT_EQ(canUnloadNow(), S_FALSE);
    EXPECT_EQ(factory->LockServer(FALSE), S_OK);
    EXPECT_EQ(canUnloadNow(), S_OK);
    EXPECT_EQ(factory->LockServer(FALSE), S_OK);  // -1: still not unloadable
    EXPECT_EQ(canUnloadNow(), S_FALSE);
    EXPECT_EQ(factory->LockServer(2), S_OK);  // any non-zero value locks
    EXPECT_EQ(canUnloadNow(), S_OK);
    factory->Release();
}

TEST_F(ModuleEntry, ObjectsOutliveTheirFactory) {
    IPrintOemUI* plugin = CreatePlugin();  // the factory is released inside
    ASSERT_NE(plugin, nullptr);
    DWORD needed = 0, signature = 0;
    EXPECT_EQ(plugin->GetInfo(OEMGI_GETSIGNATURE, &signature, sizeof signature, &needed), S_OK);
    EXPECT_EQ(plugin->Release(), 0u);
}

struct Hammered {
    IClassFactory* factory;
    IPrintOemUI* plugin;
};

DWORD WINAPI Hammer(void* p) {
    auto* w = static_cast<Hammered*>(p);
    for (int i = 0; i < 20000; ++i) {
        w->plugin->AddRef();
        w->factory->AddRef();
        w->factory->LockServer(TRUE);
    }
    for (int i = 0; i < 20000; ++i) {
        w->plugin->Release();
        w->factory->Release();
        w->factory->LockServer(FALSE);
    }
    return 0;
}

// The host calls from several threads; counts that were not changed
// atomically would drift here.
TEST_F(ModuleEntry, CountsStayExactUnderConcurrentCalls) {
    IClassFactory* factory = GetFactory();
    ASSERT_NE(factory, nullptr);
    IPrintOemUI* plugin = nullptr;
    ASSERT_EQ(factory->CreateInstance(nullptr, IID_IPrintOemUI, reinterpret_cast<void**>(&plugin)), S_OK);

    Hammered work{factory, plugin};
    HANDLE threads[4];
    for (HANDLE& t : threads) {
        t = CreateThread(nullptr, 0, Hammer, &work, 0, nullptr);
        ASSERT_NE(t, nullptr);
    }
    WaitForMultipleObjects(4, threads, TRUE, INFINITE);
    for (HANDLE t : threads) CloseHandle(t);

    EXPECT_EQ(plugin->AddRef(), 2u);
    EXPECT_EQ(plugin->Release(), 1u);
    EXPECT_EQ(factory->AddRef(), 2u);
    EXPECT_EQ(factory->Release(), 1u);
    EXPECT_EQ(canUnloadNow(), S_FALSE);  // the object still lives, no lock is left
    EXPECT_EQ(plugin->Release(), 0u);
    EXPECT_EQ(canUnloadNow(), S_OK);
    factory->Release();
}

}  // namespace
}  // namespace qz410test
