// The host's device-mode requests through IPrintOemUI::DevMode, with the
// platform's own DEVMODEW and OEMDMPARAM.
#include <cstring>

#include "TestHost.h"
#include "settings/PrivateDevMode.h"

namespace qz410test {
namespace {

using qz410::PrivateDevMode;

// The host's buffer for the private block, with a guard area behind it.
struct OemBuffer {
    explicit OemBuffer(unsigned char fill) { std::memset(bytes, fill, sizeof bytes); }
    PrivateDevMode Read() const {
        PrivateDevMode dm;
        std::memcpy(&dm, bytes, sizeof dm);
        return dm;
    }
    void Write(const PrivateDevMode& dm) { std::memcpy(bytes, &dm, sizeof dm); }
    bool GuardIntact() const {
        for (size_t i = sizeof(PrivateDevMode); i < sizeof bytes; ++i)
            if (bytes[i] != 0xEE) return false;
        return true;
    }
    unsigned char bytes[sizeof(PrivateDevMode) + 64];
};

class DevModeHost : public PluginHost {
protected:
    void SetUp() override {
        PluginHost::SetUp();
        plugin = CreatePlugin();
        ASSERT_NE(plugin, nullptr);
        std::memset(&publicDm, 0, sizeof publicDm);
        publicDm.dmSize = sizeof publicDm;
        wcscpy(publicDm.dmDeviceName, L"QZ410");
    }
    void TearDown() override {
        if (plugin != nullptr) plugin->Release();
        PluginHost::TearDown();
    }
    HRESULT Request(DWORD mode, void* in, void* out) {
        std::memset(&param, 0, sizeof param);
        param.cbSize = sizeof param;
        param.pPublicDMIn = &publicDm;
        param.pOEMDMIn = in;
        param.pOEMDMOut = out;
        param.cbBufSize = 0xBEEF;
        return plugin->DevMode(mode, &param);
    }

    IPrintOemUI* plugin = nullptr;
    DEVMODEW publicDm;
    OEMDMPARAM param;
};

PrivateDevMode Edited() {
    PrivateDevMode dm{};
    dm.header = {564, qz410::kPluginSignature, 1};
    dm.settings = {1, 2, 3, 4, 5, 6, 7, 0, 1, 12, 30, 20, 0};
    wcscpy(reinterpret_cast<wchar_t*>(dm.previewImagePath), L"C:\\kite.bmp");
    dm.smearControl = 2;
    return dm;
}

TEST_F(DevModeHost, SizeIsTheBlockSizeAndNothingElseIsWritten) {
    OemBuffer out(0x5A);
    EXPECT_EQ(Request(OEMDM_SIZE, nullptr, out.bytes), S_OK);
    EXPECT_EQ(param.cbBufSize, 564u);
    EXPECT_EQ(param.cbBufSize, sizeof(PrivateDevMode));
    for (unsigned char b : out.bytes) ASSERT_EQ(b, 0x5A);
}

TEST_F(DevModeHost, DefaultsOnAZeroFilledBuffer) {
    OemBuffer out(0);
    std::memset(out.bytes + sizeof(PrivateDevMode), 0xEE, 64);
    publicDm.dmPaperSize = 256;
    publicDm.dmOrientation = DMORIENT_PORTRAIT;
    EXPECT_EQ(Request(OEMDM_DEFAULT, nullptr, out.bytes), S_OK);
    PrivateDevMode expected{};
    expected.header = {564, qz410::kPluginSignature, 1};
    expected.settings.unsharpAmount = 5;
    expected.settings.unsharpRadius = 10;
    expected.settings.unsharpThreshold = 5;
    expected.smearControl = 1;
    const PrivateDevMode got = out.Read();
    EXPECT_EQ(std::memcmp(&got, &expected, sizeof got), 0);
    EXPECT_TRUE(out.GuardIntact());
    EXPECT_EQ(publicDm.dmOrientation, DMORIENT_LANDSCAPE);
    EXPECT_EQ(publicDm.dmPaperSize, DMPAPER_A4);

    // A server path name keeps a custom paper size; a standard size stays.
    wcscpy(publicDm.dmDeviceName, L"\\\\server\\QZ410");
    publicDm.dmPaperSize = 256;
    EXPECT_EQ(Request(OEMDM_DEFAULT, nullptr, out.bytes), S_OK);
    EXPECT_EQ(publicDm.dmPaperSize, 256);
    wcscpy(publicDm.dmDeviceName, L"QZ410");
    publicDm.dmPaperSize = 255;
    publicDm.dmOrientation = DMORIENT_PORTRAIT;
    EXPECT_EQ(Request(OEMDM_DEFAULT, nullptr, out.bytes), S_OK);
    EXPECT_EQ(publicDm.dmPaperSize, 255);
    EXPECT_EQ(publicDm.dmOrientation, DMORIENT_LANDSCAPE);
}

TEST_F(DevModeHost, ConvertAndMergeFromAnotherPluginsBlock) {
    PrivateDevMode foreign = Edited();
    foreign.header.dwSignature = 0x41424344;
    for (DWORD mode : {DWORD{OEMDM_CONVERT}, DWORD{OEMDM_MERGE}}) {
        OemBuffer out(0xEE);
        out.Write(Edited());
        EXPECT_EQ(Request(mode, &foreign, out.bytes), S_OK);
        const PrivateDevMode got = out.Read();
        EXPECT_EQ(got.settings.brightness, 0);
        EXPECT_EQ(got.settings.unsharpEnabled, 0);
        EXPECT_EQ(got.settings.unsharpAmount, 0);
        EXPECT_EQ(got.settings.unsharpThreshold, 0);
        EXPECT_EQ(got.settings.unsharpRadius, mode == OEMDM_MERGE ? 10 : 0);
        EXPECT_EQ(got.smearControl, 2);
        EXPECT_EQ(got.previewImagePath[0], u'C');
        EXPECT_TRUE(out.GuardIntact());
        EXPECT_EQ(param.cbBufSize, 0xBEEFu);
    }
}

TEST_F(DevModeHost, MergeCarriesOurBlockOverAndRepairsItsValues) {
    PrivateDevMode stored = Edited();
    stored.settings.saturation = -11;
    stored.settings.sharpness = 0xFFFF;
    stored.settings.unsharpEnabled = 7;
    stored.header.dwVersion = 0;
    OemBuffer out(0xEE);
    PrivateDevMode target{};
    target.header = {564, qz410::kPluginSignature, 1};
    out.Write(target);
    EXPECT_EQ(Request(OEMDM_MERGE, &stored, out.bytes), S_OK);
    PrivateDevMode expected = stored;
    expected.header.dwVersion = 1;
    expected.settings.saturation = 0;
    expected.settings.sharpness = 0;
    const PrivateDevMode got = out.Read();
    EXPECT_EQ(std::memcmp(&got, &expected, sizeof got), 0);
    EXPECT_TRUE(out.GuardIntact());
}

TEST_F(DevModeHost, RejectedRequestsSetInvalidParameter) {
    OemBuffer out(0x11);
    for (DWORD mode : {DWORD{0}, DWORD{5}}) {
        SetLastError(0);
        EXPECT_EQ(Request(mode, out.bytes, out.bytes), E_FAIL);
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
        EXPECT_EQ(param.cbBufSize, 0xBEEFu);
    }
    SetLastError(0);
    EXPECT_EQ(plugin->DevMode(OEMDM_SIZE, nullptr), E_FAIL);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    for (unsigned char b : out.bytes) ASSERT_EQ(b, 0x11);
}

TEST_F(DevModeHost, MissingBlocksAreNotAnErrorAndWriteNothing) {
    OemBuffer out(0x11);
    PrivateDevMode in = Edited();
    for (DWORD mode : {DWORD{OEMDM_CONVERT}, DWORD{OEMDM_MERGE}}) {
        EXPECT_EQ(Request(mode, nullptr, out.bytes), S_OK);
        EXPECT_EQ(Request(mode, &in, nullptr), S_OK);
    }
    for (unsigned char b : out.bytes) ASSERT_EQ(b, 0x11);
}

}  // namespace
}  // namespace qz410test
