// What Explorer's properties and the host read from the built file: the
// version resource and the string table.
#include <string>
#include <vector>

#include "TestHost.h"

namespace qz410test {
namespace {

class Resources : public PluginHost {
protected:
    std::wstring VersionString(const std::vector<unsigned char>& data, const wchar_t* name) {
        std::wstring query = std::wstring(L"\\StringFileInfo\\040904B0\\") + name;
        wchar_t* value = nullptr;
        UINT length = 0;
        if (!VerQueryValueW(data.data(), query.c_str(), reinterpret_cast<void**>(&value), &length) || !value) {
            return L"<missing>";
        }
        return value;
    }
};

TEST_F(Resources, VersionResourceNamesTheProduct) {
    wchar_t path[MAX_PATH];
    ASSERT_NE(GetModuleFileNameW(module, path, MAX_PATH), 0u);
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeW(path, &ignored);
    ASSERT_NE(size, 0u);
    std::vector<unsigned char> data(size);
    ASSERT_TRUE(GetFileVersionInfoW(path, 0, size, data.data()));

    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueW(data.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
    EXPECT_EQ(fixed->dwFileVersionMS, MAKELONG(1, 2));  // 2.1
    EXPECT_EQ(fixed->dwFileVersionLS, MAKELONG(3, 0));  // .0.3
    EXPECT_EQ(fixed->dwFileType, static_cast<DWORD>(VFT_DLL));

    EXPECT_EQ(VersionString(data, L"FileVersion"), L"2.1.0.3");
    EXPECT_EQ(VersionString(data, L"ProductVersion"), L"2.103");
    EXPECT_EQ(VersionString(data, L"FileDescription"), L"Ardix QZ410 UI Module.");
    EXPECT_EQ(VersionString(data, L"ProductName"), L"Ardix QZ410 Printer Driver");
    EXPECT_EQ(VersionString(data, L"CompanyName"), L"Brantwell");
    EXPECT_EQ(VersionString(data, L"OriginalFilename"), L"QZ410UI.DLL");
}

TEST_F(Resources, StringTableEntries) {
    const wchar_t* expected[] = {L"Area(default 15)", L"Strength(default 15)", L"Threshold",
                                 L"Printer has been calibrated.", L"OEM UI Customization DLL", L"Smear Control",
                                 L"Multi cut"};
    for (UINT id = 1; id <= 7; ++id) {
        wchar_t text[260] = {};
        EXPECT_GT(LoadStringW(module, id, text, 260), 0) << id;
        EXPECT_STREQ(text, expected[id - 1]) << id;
    }
}

}  // namespace
}  // namespace qz410test
