// The plug-in object as the host sees it: identity, counting, the host's
// interface, GetInfo and the methods the driver does not offer.
#include <cstring>

#include "TestHost.h"

namespace qz410test {
namespace {

constexpr DWORD kLpcn = 0x4E43504C;
constexpr DWORD kSentinelError = 0xC0DE;

class PrinterUiPluginTest : public PluginHost {
protected:
    void SetUp() override {
        PluginHost::SetUp();
        plugin = CreatePlugin();
        ASSERT_NE(plugin, nullptr);
    }
    void TearDown() override {
        if (plugin != nullptr) {
            EXPECT_EQ(plugin->Release(), 0u);
        }
        PluginHost::TearDown();
    }
    IPrintOemUI* plugin = nullptr;
};

// Calls slot `index` of the object's method table with the argument types of
// the platform's method at that place.
template <typename... Args>
HRESULT CallSlot(IPrintOemUI* object, int index, Args... args) {
    using Method = HRESULT(STDMETHODCALLTYPE*)(void*, Args...);
    return reinterpret_cast<Method>((*reinterpret_cast<void***>(object))[index])(object, args...);
}

TEST_F(PrinterUiPluginTest, MethodTableFollowsThePlatformOrder) {
    // Every slot is called by number, not through the shared declaration, so
    // a reordered declaration cannot hide a reordered table. Each call is
    // answered as only the platform's method at that place answers it; the
    // unsupported methods answer E_NOTIMPL and touch nothing.
    void* unknown = nullptr;
    EXPECT_EQ((CallSlot<REFIID, void**>(plugin, 0, IID_IUnknown, &unknown)), S_OK);
    EXPECT_EQ(unknown, static_cast<void*>(plugin));
    EXPECT_EQ(static_cast<ULONG>(CallSlot(plugin, 1)), 3u);  // AddRef
    EXPECT_EQ(static_cast<ULONG>(CallSlot(plugin, 2)), 2u);  // Release
    EXPECT_EQ(static_cast<ULONG>(CallSlot(plugin, 2)), 1u);

    DWORD value = 0, needed = 0;
    EXPECT_EQ(CallSlot(plugin, 3, DWORD{OEMGI_GETSIGNATURE}, static_cast<PVOID>(&value), DWORD{4}, &needed), S_OK);
    EXPECT_EQ(value, kLpcn);
    OEMDMPARAM param{};
    param.cbSize = sizeof param;
    EXPECT_EQ(CallSlot(plugin, 4, DWORD{OEMDM_SIZE}, &param), S_OK);
    EXPECT_EQ(param.cbBufSize, 564u);
    FakeDriverUi host;
    EXPECT_EQ(CallSlot(plugin, 5, static_cast<IUnknown*>(&host)), S_OK);
    EXPECT_EQ(host.driverUiQueries, 1);

    // Arguments that would crash if they were looked at, where a method must
    // not look at them.
    auto* poison = reinterpret_cast<void*>(1);
    SetLastError(kSentinelError);
    // CommonUIProp: the document tree's count request asks for seven items.
    OEMCUIPPARAM options{};
    options.cbSize = sizeof options;
    EXPECT_EQ(CallSlot(plugin, 6, DWORD{OEMCUIP_DOCPROP}, &options), S_OK);
    EXPECT_EQ(options.cOEMOptItems, 7u);
    // The two sheet handlers answer the title request differently: the
    // document sheet asks for no title, the device sheet names its page.
    for (int slot : {7, 8}) {
        PROPSHEETUI_INFO_HEADER header{};
        header.pTitle = const_cast<LPTSTR>(L"unchanged");
        PROPSHEETUI_INFO info{};
        info.cbSize = sizeof info;
        info.Version = PROPSHEETUI_INFO_VERSION;
        info.Reason = PROPSHEETUI_REASON_GET_INFO_HEADER;
        EXPECT_EQ(CallSlot(plugin, slot, &info, reinterpret_cast<LPARAM>(&header)), S_OK);
        EXPECT_EQ(info.Result, 1);
        if (slot == 7) {
            EXPECT_EQ(header.pTitle, nullptr);
        } else {
            EXPECT_STREQ(header.pTitle, L"OEM UI Page");
        }
    }
    EXPECT_EQ(CallSlot(plugin, 9, static_cast<POEMUIOBJ>(poison), static_cast<PDEVQUERYPRINT_INFO>(poison),
                       static_cast<PDEVMODEW>(poison), poison),
              E_NOTIMPL);
    EXPECT_EQ(CallSlot(plugin, 10, static_cast<POEMUIOBJ>(poison), static_cast<HANDLE>(poison),
                       static_cast<PWSTR>(poison), WORD{1}, poison, static_cast<PDEVMODEW>(poison), poison, DWORD{0},
                       static_cast<DWORD*>(poison)),
              E_NOTIMPL);
    EXPECT_EQ(CallSlot(plugin, 11, DWORD{1}, static_cast<PBYTE>(poison)), E_NOTIMPL);
    EXPECT_EQ(CallSlot(plugin, 12, static_cast<PWSTR>(nullptr), INT{0}, DWORD{0}, LPARAM{0}), E_NOTIMPL);
    EXPECT_EQ(CallSlot(plugin, 13, DWORD{1}, DWORD{1}, static_cast<LPBYTE>(poison), LPARAM{0}), E_NOTIMPL);
    // QueryColorProfile refuses a source-profile query without a last error.
    ULONG profileSize = 0;
    EXPECT_EQ(CallSlot(plugin, 14, static_cast<HANDLE>(nullptr), static_cast<POEMUIOBJ>(nullptr),
                       static_cast<PDEVMODEW>(nullptr), static_cast<PVOID>(nullptr), ULONG{QCP_SOURCEPROFILE},
                       static_cast<VOID*>(nullptr), &profileSize, static_cast<FLONG*>(nullptr)),
              E_FAIL);
    EXPECT_EQ(profileSize, 0u);
    EXPECT_EQ(CallSlot(plugin, 15, static_cast<HWND>(poison), UINT{WM_INITDIALOG}, WPARAM{0}, LPARAM{0}),
              E_NOTIMPL);
    EXPECT_EQ(CallSlot(plugin, 16, static_cast<HANDLE>(poison), static_cast<HANDLE>(poison),
                       static_cast<PWSTR>(poison)),
              E_NOTIMPL);
    EXPECT_EQ(GetLastError(), kSentinelError);

    EXPECT_EQ(plugin->Release(), 0u);  // lets go of the host while it exists
    plugin = nullptr;
}

TEST_F(PrinterUiPluginTest, AnswersOnlyUnknownAndItsOwnInterface) {
    IUnknown* unknown = nullptr;
    ASSERT_EQ(plugin->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&unknown)), S_OK);
    EXPECT_EQ(static_cast<void*>(unknown), static_cast<void*>(plugin));
    EXPECT_EQ(unknown->Release(), 1u);
    for (const IID* refused : {&IID_IPrintOemDriverUI, &IID_IClassFactory, &CLSID_QZ410UI}) {
        void* out = reinterpret_cast<void*>(0x1234);
        EXPECT_EQ(plugin->QueryInterface(*refused, &out), E_NOINTERFACE);
        EXPECT_EQ(out, nullptr);
    }
    EXPECT_EQ(plugin->QueryInterface(IID_IPrintOemUI, nullptr), E_POINTER);
    EXPECT_EQ(plugin->AddRef(), 2u);
    EXPECT_EQ(plugin->AddRef(), 3u);
    EXPECT_EQ(plugin->Release(), 2u);
    EXPECT_EQ(plugin->Release(), 1u);
}

TEST_F(PrinterUiPluginTest, HoldsOneReferenceToTheHostAndReleasesItAtTheEnd) {
    FakeDriverUi host;
    EXPECT_EQ(plugin->PublishDriverInterface(&host), S_OK);
    EXPECT_EQ(host.driverUiQueries, 1);
    EXPECT_EQ(host.refs, 2);

    // A second publication neither queries nor keeps the new interface.
    FakeDriverUi other;
    EXPECT_EQ(plugin->PublishDriverInterface(&other), S_OK);
    EXPECT_EQ(other.queries, 0);
    EXPECT_EQ(other.refs, 1);
    EXPECT_EQ(plugin->PublishDriverInterface(nullptr), S_OK);

    EXPECT_EQ(plugin->Release(), 0u);
    plugin = nullptr;
    EXPECT_EQ(host.refs, 1);
}

TEST_F(PrinterUiPluginTest, AFailedPublicationLeavesNothingHeldAndMayBeRetried) {
    FakeDriverUi refusing;
    refusing.refuse = true;
    refusing.scribbleOnRefusal = true;  // the plug-in must not keep what it left
    SetLastError(kSentinelError);
    EXPECT_EQ(plugin->PublishDriverInterface(&refusing), E_FAIL);
    EXPECT_EQ(GetLastError(), kSentinelError);
    EXPECT_EQ(plugin->PublishDriverInterface(nullptr), E_POINTER);

    FakeDriverUi host;
    EXPECT_EQ(plugin->PublishDriverInterface(&host), S_OK);
    EXPECT_EQ(host.refs, 2);
    EXPECT_EQ(plugin->Release(), 0u);  // would crash on the scribbled pointer
    plugin = nullptr;
    EXPECT_EQ(host.refs, 1);
    EXPECT_EQ(refusing.refs, 1);
}

struct GetInfoCase {
    DWORD mode;
    bool nullNeeded;
    DWORD bufferSize;
    bool nullBuffer;
    HRESULT result;
    DWORD lastError;  // 0: left as it was
    DWORD needed;     // the value at pcbNeeded afterwards (starts at 77)
    DWORD written;    // the first four buffer bytes afterwards (starts at 0xAAAAAAAA)
};

TEST_F(PrinterUiPluginTest, GetInfoAnswersSignatureAndVersionAndRefusesTheRest) {
    const DWORD untouched = 0xAAAAAAAA;
    const GetInfoCase cases[] = {
        {OEMGI_GETSIGNATURE, false, 4, false, S_OK, 0, 4, kLpcn},
        {OEMGI_GETSIGNATURE, false, 8, false, S_OK, 0, 4, kLpcn},
        {OEMGI_GETVERSION, false, 4, false, S_OK, 0, 4, 1},
        {OEMGI_GETINTERFACEVERSION, false, 4, false, E_FAIL, ERROR_INVALID_PARAMETER, 77, untouched},
        {0, false, 4, false, E_FAIL, ERROR_INVALID_PARAMETER, 77, untouched},
        {5, false, 4, false, E_FAIL, ERROR_INVALID_PARAMETER, 77, untouched},
        {OEMGI_GETSIGNATURE, true, 4, false, E_FAIL, ERROR_INVALID_PARAMETER, 77, untouched},
        {OEMGI_GETPUBLISHERINFO, true, 0, true, E_FAIL, ERROR_INVALID_PARAMETER, 77, untouched},
        {OEMGI_GETSIGNATURE, false, 3, false, E_FAIL, ERROR_INSUFFICIENT_BUFFER, 4, untouched},
        {OEMGI_GETVERSION, false, 8, true, E_FAIL, ERROR_INSUFFICIENT_BUFFER, 4, untouched},
        {OEMGI_GETPUBLISHERINFO, false, 2, false, E_FAIL, ERROR_INSUFFICIENT_BUFFER, 4, untouched},
        {OEMGI_GETPUBLISHERINFO, false, 4, false, E_FAIL, ERROR_NOT_SUPPORTED, 0, untouched},
    };
    for (const GetInfoCase& c : cases) {
        unsigned char buffer[8];
        std::memset(buffer, 0xAA, sizeof buffer);
        DWORD needed = 77;
        SetLastError(kSentinelError);
        const HRESULT result = plugin->GetInfo(c.mode, c.nullBuffer ? nullptr : buffer, c.bufferSize,
                                               c.nullNeeded ? nullptr : &needed);
        const DWORD lastError = GetLastError();
        DWORD written;
        std::memcpy(&written, buffer, 4);
        SCOPED_TRACE(testing::Message() << "mode " << c.mode << " size " << c.bufferSize);
        EXPECT_EQ(result, c.result);
        EXPECT_EQ(lastError, c.lastError != 0 ? c.lastError : kSentinelError);
        EXPECT_EQ(needed, c.needed);
        EXPECT_EQ(written, c.written);
        for (int i = 4; i < 8; ++i) EXPECT_EQ(buffer[i], 0xAA) << "byte " << i;
    }
}

TEST_F(PrinterUiPluginTest, UnsupportedMethodsAnswerNotImplementedAndTouchNothing) {
    // Arguments that would crash if they were looked at, where a method must
    // not look at them.
    auto* poison = reinterpret_cast<void*>(1);
    SetLastError(kSentinelError);
    EXPECT_EQ(plugin->DevQueryPrintEx(static_cast<POEMUIOBJ>(poison), static_cast<PDEVQUERYPRINT_INFO>(poison),
                                      static_cast<PDEVMODEW>(poison), poison),
              E_NOTIMPL);
    EXPECT_EQ(plugin->DeviceCapabilities(static_cast<POEMUIOBJ>(poison), poison, static_cast<PWSTR>(poison), 1,
                                         poison, static_cast<PDEVMODEW>(poison), poison, 0,
                                         static_cast<DWORD*>(poison)),
              E_NOTIMPL);
    EXPECT_EQ(plugin->UpgradePrinter(1, static_cast<PBYTE>(poison)), E_NOTIMPL);
    EXPECT_EQ(plugin->DriverEvent(1, 1, static_cast<LPBYTE>(poison), 0), E_NOTIMPL);
    EXPECT_EQ(plugin->FontInstallerDlgProc(static_cast<HWND>(poison), WM_INITDIALOG, 0, 0), E_NOTIMPL);
    EXPECT_EQ(plugin->UpdateExternalFonts(poison, poison, static_cast<PWSTR>(poison)), E_NOTIMPL);
    EXPECT_EQ(GetLastError(), kSentinelError);
}

}  // namespace
}  // namespace qz410test
