// What Explorer's properties and the host read from the built file: the
// version resource, the string table and the pictures.
#include <string>
#include <vector>

#include "TestHost.h"
#include "resources/resource.h"

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

// Each picture as the page will load it: the stored header says the size and
// depth, and LoadImageW turns it into a bitmap or icon of that size.
TEST_F(Resources, PicturesLoadWithTheirSizeAndDepth) {
    struct Picture {
        UINT type;  // IMAGE_BITMAP or IMAGE_ICON
        WORD id;
        LONG width, height;
        WORD bits;
    };
    const Picture pictures[] = {
        {IMAGE_BITMAP, IDB_STRIP_CYAN_RED, 130, 8, 4},    {IMAGE_BITMAP, IDB_STRIP_MAGENTA_GREEN, 130, 8, 4},
        {IMAGE_BITMAP, IDB_STRIP_YELLOW_BLUE, 130, 8, 4}, {IMAGE_ICON, IDI_BRIGHTNESS, 32, 32, 4},
        {IMAGE_ICON, IDI_CONTRAST, 32, 32, 4},            {IMAGE_ICON, IDI_SATURATION, 32, 32, 4},
        {IMAGE_ICON, IDI_SHARPNESS, 32, 32, 4},           {IMAGE_BITMAP, IDB_SAMPLE_PICTURE, 192, 192, 24},
        {IMAGE_BITMAP, IDB_MAKER_LOGO, 123, 39, 24},
    };
    for (const Picture& p : pictures) {
        SCOPED_TRACE(testing::Message() << (p.type == IMAGE_ICON ? "icon " : "bitmap ") << p.id);
        // An icon group names its one image; the image holds colour bits and
        // mask, so its header counts twice the height.
        WORD imageId = p.id;
        LPCWSTR imageType = RT_BITMAP;
        LONG storedHeight = p.height;
        if (p.type == IMAGE_ICON) {
            HRSRC group = FindResourceW(module, MAKEINTRESOURCEW(p.id), RT_GROUP_ICON);
            ASSERT_NE(group, nullptr);
            auto* dir = static_cast<BYTE*>(LockResource(LoadResource(module, group)));
            ASSERT_NE(dir, nullptr);
            EXPECT_EQ(reinterpret_cast<WORD*>(dir)[2], 1) << "images in the group";
            imageId = static_cast<WORD>(LookupIconIdFromDirectoryEx(dir, TRUE, 32, 32, 0));
            imageType = RT_ICON;
            storedHeight = 2 * p.height;
        }
        HRSRC found = FindResourceW(module, MAKEINTRESOURCEW(imageId), imageType);
        ASSERT_NE(found, nullptr);
        ASSERT_GE(SizeofResource(module, found), sizeof(BITMAPINFOHEADER));
        const auto* header = static_cast<const BITMAPINFOHEADER*>(LockResource(LoadResource(module, found)));
        ASSERT_NE(header, nullptr);
        EXPECT_EQ(header->biSize, sizeof(BITMAPINFOHEADER));
        EXPECT_EQ(header->biWidth, p.width);
        EXPECT_EQ(header->biHeight, storedHeight);
        EXPECT_EQ(header->biBitCount, p.bits);
        EXPECT_EQ(header->biCompression, static_cast<DWORD>(BI_RGB));

        HANDLE image = LoadImageW(module, MAKEINTRESOURCEW(p.id), p.type, 0, 0, LR_DEFAULTCOLOR);
        ASSERT_NE(image, nullptr);
        BITMAP bitmap = {};
        ICONINFO icon = {};
        if (p.type == IMAGE_ICON) {
            ASSERT_TRUE(GetIconInfo(static_cast<HICON>(image), &icon));
            EXPECT_TRUE(GetObjectW(icon.hbmColor, sizeof(bitmap), &bitmap));
            DeleteObject(icon.hbmColor);
            DeleteObject(icon.hbmMask);
            DestroyIcon(static_cast<HICON>(image));
        } else {
            EXPECT_TRUE(GetObjectW(image, sizeof(bitmap), &bitmap));
            DeleteObject(image);
        }
        EXPECT_EQ(bitmap.bmWidth, p.width);
        EXPECT_EQ(bitmap.bmHeight, p.height);
    }
}

}  // namespace
}  // namespace qz410test
