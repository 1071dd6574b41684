// The HTML file class of HKEY_CLASSES_ROOT as a test wants it, for the
// Version page's links; the prefix's own keys are put back afterwards.
#pragma once

#include <windows.h>

#include <string>

#include <gtest/gtest.h>

namespace qz410test {

class HtmlClass {
public:
    HtmlClass() {
        HMODULE advapi = GetModuleHandleW(L"advapi32.dll");
        copyTree = reinterpret_cast<CopyTreeFn>(reinterpret_cast<void*>(GetProcAddress(advapi, "RegCopyTreeW")));
        deleteTree =
            reinterpret_cast<DeleteTreeFn>(reinterpret_cast<void*>(GetProcAddress(advapi, "RegDeleteTreeW")));
        HKEY original = nullptr;
        if (RegOpenKeyExW(HKEY_CLASSES_ROOT, L".htm", 0, KEY_READ, &original) == ERROR_SUCCESS) {
            HKEY backup = nullptr;
            RegCreateKeyExW(HKEY_CURRENT_USER, kBackup, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &backup, nullptr);
            saved = copyTree != nullptr && backup != nullptr && copyTree(original, nullptr, backup) == ERROR_SUCCESS;
            if (backup != nullptr) RegCloseKey(backup);
            RegCloseKey(original);
        }
    }
    ~HtmlClass() {
        Remove();
        deleteTree(HKEY_CLASSES_ROOT, kClass);
        if (saved) {
            HKEY backup = nullptr, restored = nullptr;
            RegOpenKeyExW(HKEY_CURRENT_USER, kBackup, 0, KEY_READ, &backup);
            RegCreateKeyExW(HKEY_CLASSES_ROOT, L".htm", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &restored, nullptr);
            if (backup != nullptr && restored != nullptr) copyTree(backup, nullptr, restored);
            if (restored != nullptr) RegCloseKey(restored);
            if (backup != nullptr) RegCloseKey(backup);
        }
        deleteTree(HKEY_CURRENT_USER, kBackupParent);
    }
    bool Usable() const { return copyTree != nullptr && deleteTree != nullptr; }
    void Remove() { deleteTree(HKEY_CLASSES_ROOT, L".htm"); }
    void Register(const wchar_t* openCommand) {
        Remove();
        SetDefault(L".htm", kClass);
        SetDefault((std::wstring(kClass) + L"\\shell\\open\\command").c_str(), openCommand);
    }

private:
    using CopyTreeFn = LONG(WINAPI*)(HKEY, LPCWSTR, HKEY);
    using DeleteTreeFn = LONG(WINAPI*)(HKEY, LPCWSTR);
    static constexpr const wchar_t* kBackupParent = L"Software\\QZ410 tests";
    static constexpr const wchar_t* kBackup = L"Software\\QZ410 tests\\htm";
    static constexpr const wchar_t* kClass = L"QZ410Test.HtmlFile";

    static void SetDefault(const wchar_t* subKey, const wchar_t* value) {
        HKEY key = nullptr;
        ASSERT_EQ(RegCreateKeyExW(HKEY_CLASSES_ROOT, subKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
                  ERROR_SUCCESS);
        RegSetValueExW(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(value),
                       static_cast<DWORD>((wcslen(value) + 1) * sizeof(wchar_t)));
        RegCloseKey(key);
    }

    CopyTreeFn copyTree = nullptr;
    DeleteTreeFn deleteTree = nullptr;
    bool saved = false;
};

}  // namespace qz410test
