// The stand-in host's sheet: its own tabs come first, and a device mode
// applied with OK comes back in the next session through the plug-in's merge.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "settings/PrivateDevMode.h"
#include "tools/qz410host/HostPages.h"
#include "tools/qz410host/HostSession.h"

namespace {

using qz410host::HostSession;

std::wstring TabText(HWND sheet, int index) {
    wchar_t text[64] = {};
    TCITEMW item{};
    item.mask = TCIF_TEXT;
    item.pszText = text;
    item.cchTextMax = 64;
    TabCtrl_GetItem(PropSheet_GetTabControl(sheet), index, &item);
    return text;
}

std::wstring TempFile(const wchar_t* name) {
    wchar_t dir[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, dir);
    return std::wstring(dir) + name;
}

qz410::PrivateDevMode ReadPrivate(HostSession& session) {
    qz410::PrivateDevMode dm;
    std::memcpy(&dm, session.PrivateDevMode(), sizeof dm);
    return dm;
}

TEST(HostSheet, HostTabsComeFirst) {
    const struct {
        HostSession::Sheet sheet;
        std::vector<std::wstring> hostTabs;
    } cases[] = {
        {HostSession::Sheet::Document, {L"Layout", L"Advanced"}},
        {HostSession::Sheet::Device, {L"General"}},
    };
    for (const auto& c : cases) {
        HostSession session;
        ASSERT_TRUE(session.Load(L"QZ410UI.DLL"));
        HWND sheet = session.OpenModeless(c.sheet);
        ASSERT_NE(sheet, nullptr);
        EXPECT_EQ(session.FirstPluginPageIndex(), static_cast<int>(c.hostTabs.size()));
        for (size_t i = 0; i < c.hostTabs.size(); ++i) EXPECT_EQ(TabText(sheet, static_cast<int>(i)), c.hostTabs[i]);
        session.Press(PSBTN_CANCEL);
        EXPECT_EQ(session.SheetWindow(), nullptr);
    }
}

TEST(HostSheet, OkKeepsTheDeviceModeAndCancelDoesNot) {
    const std::wstring file = TempFile(L"qz410-host-sheet.devmode");
    DeleteFileW(file.c_str());
    {
        HostSession session;
        ASSERT_TRUE(session.Load(L"QZ410UI.DLL", file.c_str()));
        ASSERT_EQ(session.PublicDevMode()->dmOrientation, DMORIENT_LANDSCAPE);  // the plug-in's default
        // Opened and closed on another tab: the host's page still applies.
        HWND sheet = session.OpenModeless(HostSession::Sheet::Document, 1);
        ASSERT_NE(sheet, nullptr);
        HWND layout = PropSheet_IndexToHwnd(sheet, 0);
        ASSERT_NE(layout, nullptr);
        SendMessageW(GetDlgItem(layout, qz410host::kPortraitButton), BM_CLICK, 0, 0);
        // What a plug-in page leaves in the live block, one value out of its
        // range.
        qz410::PrivateDevMode dm = ReadPrivate(session);
        dm.settings.brightness = 3;
        dm.settings.contrast = 50;
        std::memcpy(session.PrivateDevMode(), &dm, sizeof dm);
        session.Press(PSBTN_OK);
        EXPECT_EQ(session.SheetWindow(), nullptr);
    }
    for (const bool cancelled : {false, true}) {
        HostSession session;
        ASSERT_TRUE(session.Load(L"QZ410UI.DLL", file.c_str()));
        const qz410::PrivateDevMode dm = ReadPrivate(session);
        EXPECT_EQ(session.PublicDevMode()->dmOrientation, DMORIENT_PORTRAIT) << cancelled;
        EXPECT_EQ(dm.settings.brightness, 3) << cancelled;
        EXPECT_EQ(dm.settings.contrast, 0) << "repaired by the merge";
        // Changed and cancelled: the file keeps what OK stored.
        ASSERT_NE(session.OpenModeless(HostSession::Sheet::Document), nullptr);
        SendMessageW(GetDlgItem(session.ShowPage(0), qz410host::kLandscapeButton), BM_CLICK, 0, 0);
        session.Press(PSBTN_CANCEL);
        EXPECT_EQ(session.SheetWindow(), nullptr);
    }
    DeleteFileW(file.c_str());
}

// The host's option page as a person uses it: a choice in the list reaches
// the device mode only through OK, and a page shown again shows the device
// mode's value.
TEST(HostSheet, OptionListGoesThroughTheCallback) {
    const std::wstring file = TempFile(L"qz410-host-options.devmode");
    DeleteFileW(file.c_str());
    HostSession session;
    ASSERT_TRUE(session.Load(L"QZ410UI.DLL", file.c_str()));
    ASSERT_NE(session.OpenModeless(HostSession::Sheet::Document), nullptr);
    int smear = -1;
    for (DWORD i = 0; i < session.OptionItemCount(); ++i) {
        const OPTITEM& item = session.OptionItems()[i];
        if (item.pName != nullptr && !IS_INTRESOURCE(item.pName) && std::wstring(item.pName) == L"Smear Control") {
            smear = static_cast<int>(i);
        }
    }
    HWND page = session.ShowPage(1);
    EXPECT_EQ(IsWindowVisible(GetDlgItem(page, qz410host::kNoOptionsText)) != FALSE, session.OptionItemCount() == 0);
    if (smear < 0) {
        session.Press(PSBTN_CANCEL);
        GTEST_SKIP() << "the plug-in offers no Smear Control";
    }
    HWND list = GetDlgItem(page, qz410host::kOptionListBase + smear);
    auto shown = [&] {
        wchar_t text[32] = {};
        GetWindowTextW(list, text, 32);
        return std::wstring(text);
    };
    auto choose = [&](int index) {
        SendMessageW(list, CB_SETCURSEL, index, 0);
        SendMessageW(page, WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(list), CBN_SELCHANGE), reinterpret_cast<LPARAM>(list));
    };
    EXPECT_EQ(shown(), L"Picture");
    choose(2);
    session.ShowPage(0);
    session.ShowPage(1);
    EXPECT_EQ(shown(), L"Picture") << "shown again from the device mode";
    EXPECT_EQ(ReadPrivate(session).smearControl, 1);
    choose(0);
    session.Press(PSBTN_OK);
    EXPECT_EQ(ReadPrivate(session).smearControl, 0);

    HostSession next;
    ASSERT_TRUE(next.Load(L"QZ410UI.DLL", file.c_str()));
    EXPECT_EQ(ReadPrivate(next).smearControl, 0);
    DeleteFileW(file.c_str());
}

}  // namespace
