#include "tools/qz410host/HostPages.h"

#include <cstdio>
#include <string>

namespace qz410host {

namespace {

// A dialog template in memory: DLGTEMPLATE, its caption and font, then each
// control's DLGITEMTEMPLATE on a DWORD boundary.
class DialogTemplate {
public:
    DialogTemplate(const wchar_t* caption, short cx, short cy) {
        Dword(WS_CHILD | WS_CAPTION | DS_SETFONT | DS_3DLOOK);
        Dword(0);
        words.push_back(0);  // control count, set by Add
        Words({0, 0, static_cast<WORD>(cx), static_cast<WORD>(cy)});
        Words({0, 0});  // no menu, the standard class
        String(caption);
        words.push_back(8);
        String(L"MS Shell Dlg");
    }

    // classAtom: 0x0080 button, 0x0082 static.
    void Add(WORD id, WORD classAtom, const wchar_t* text, DWORD style, short x, short y, short cx, short cy) {
        if (words.size() % 2 != 0) words.push_back(0);
        Dword(WS_CHILD | WS_VISIBLE | style);
        Dword(0);
        Words({static_cast<WORD>(x), static_cast<WORD>(y), static_cast<WORD>(cx), static_cast<WORD>(cy), id});
        Words({0xFFFF, classAtom});
        String(text);
        words.push_back(0);  // no creation data
        ++words[4];
    }

    std::vector<WORD> words;

private:
    void Dword(DWORD value) { Words({LOWORD(value), HIWORD(value)}); }
    void Words(std::initializer_list<WORD> list) { words.insert(words.end(), list); }
    void String(const wchar_t* text) {
        while (*text != 0) words.push_back(*text++);
        words.push_back(0);
    }
};

constexpr WORD kButton = 0x0080;
constexpr WORD kStatic = 0x0082;
constexpr short kPageWidth = 252;
constexpr short kPageHeight = 218;

HostSession* SessionOf(HWND page) { return reinterpret_cast<HostSession*>(GetWindowLongPtrW(page, DWLP_USER)); }

// Texts of option items may be resource ids of the plug-in's module.
std::wstring ItemText(HMODULE module, const wchar_t* text) {
    if (text == nullptr) return std::wstring();
    if (!IS_INTRESOURCE(text)) return text;
    wchar_t buffer[260] = {};
    LoadStringW(module, static_cast<UINT>(reinterpret_cast<ULONG_PTR>(text)), buffer, 260);
    return buffer;
}

const wchar_t* PaperName(short paper) {
    switch (paper) {
    case DMPAPER_LETTER: return L"Letter";
    case DMPAPER_LEGAL: return L"Legal";
    case DMPAPER_A3: return L"A3";
    case DMPAPER_A4: return L"A4";
    case DMPAPER_A5: return L"A5";
    case DMPAPER_B5: return L"B5 (JIS)";
    case DMPAPER_USER: return L"User-defined size";
    default: return nullptr;
    }
}

}  // namespace

// The host's side of the option items: it shows each named list item, calls
// the plug-in's callback as the common property sheet UI does, and keeps the
// lists and the items' Sel in step.
struct OptionControls {
    static bool Shown(const OPTITEM& item) {
        const OPTTYPE* type = item.pOptType;
        return item.pName != nullptr && (item.Flags & OPTIF_HIDE) == 0 && type != nullptr &&
               (type->Type == TVOT_COMBOBOX || type->Type == TVOT_LISTBOX) && type->pOptParam != nullptr &&
               type->Count > 0;
    }

    static void SelectFromItem(HWND page, const OPTITEM& item, int index) {
        HWND list = GetDlgItem(page, kOptionListBase + index);
        if (list == nullptr) return;
        const LRESULT count = SendMessageW(list, CB_GETCOUNT, 0, 0);
        LRESULT chosen = CB_ERR;
        for (LRESULT i = 0; i < count; ++i) {
            if (SendMessageW(list, CB_GETITEMDATA, i, 0) == item.Sel) chosen = i;
        }
        SendMessageW(list, CB_SETCURSEL, chosen, 0);
    }

    // Labels and drop-down lists from dialog-unit row `top` on.
    static int Create(HWND page, HostSession& session, int top) {
        HFONT font = reinterpret_cast<HFONT>(SendMessageW(page, WM_GETFONT, 0, 0));
        int shown = 0;
        for (DWORD i = 0; i < session.optionItemCount; ++i) {
            const OPTITEM& item = session.optionItems[i];
            if (!Shown(item)) continue;
            const int y = top + shown * 18;
            RECT label{7, y + 2, 7 + 110, y + 2 + 10};
            RECT listRect{120, y, 120 + 125, y + 12 + 12 * std::min<int>(item.pOptType->Count, 8)};
            MapDialogRect(page, &label);
            MapDialogRect(page, &listRect);
            const std::wstring name = ItemText(session.module, item.pName) + L":";
            HWND text = CreateWindowExW(0, L"STATIC", name.c_str(), WS_CHILD | WS_VISIBLE | SS_LEFT, label.left,
                                        label.top, label.right - label.left, label.bottom - label.top, page,
                                        reinterpret_cast<HMENU>(static_cast<INT_PTR>(kOptionLabelBase + i)),
                                        nullptr, nullptr);
            HWND list = CreateWindowExW(0, L"COMBOBOX", L"",
                                        WS_CHILD | WS_VISIBLE | WS_TABSTOP | WS_VSCROLL | CBS_DROPDOWNLIST,
                                        listRect.left, listRect.top, listRect.right - listRect.left,
                                        listRect.bottom - listRect.top, page,
                                        reinterpret_cast<HMENU>(static_cast<INT_PTR>(kOptionListBase + i)),
                                        nullptr, nullptr);
            SendMessageW(text, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
            SendMessageW(list, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
            for (WORD entry = 0; entry < item.pOptType->Count; ++entry) {
                const OPTPARAM& param = item.pOptType->pOptParam[entry];
                if ((param.Flags & OPTPF_HIDE) != 0) continue;
                const std::wstring entryText = ItemText(session.module, param.pData);
                const LRESULT at = SendMessageW(list, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(entryText.c_str()));
                if (at >= 0) SendMessageW(list, CB_SETITEMDATA, at, entry);
            }
            SelectFromItem(page, item, static_cast<int>(i));
            ++shown;
        }
        return shown;
    }

    static void Act(HWND page, HostSession& session, LONG action) {
        for (DWORD i = 0; i < session.optionItemCount; ++i) {
            OPTITEM& item = session.optionItems[i];
            if (action == CPSUICB_ACTION_REINIT_ITEMS ||
                (action == CPSUICB_ACTION_OPTIF_CHANGED && (item.Flags & OPTIF_CHANGED) != 0)) {
                SelectFromItem(page, item, static_cast<int>(i));
                item.Flags &= ~OPTIF_CHANGED;
            }
        }
    }

    // The lists' choices into the items' Sel.
    static void Store(HWND page, HostSession& session) {
        for (DWORD i = 0; i < session.optionItemCount; ++i) {
            HWND list = GetDlgItem(page, kOptionListBase + static_cast<int>(i));
            if (list == nullptr) continue;
            const LRESULT at = SendMessageW(list, CB_GETCURSEL, 0, 0);
            if (at != CB_ERR) session.optionItems[i].Sel = static_cast<LONG>(SendMessageW(list, CB_GETITEMDATA, at, 0));
        }
    }

    // The option part of a page's messages; true when the message was the
    // options' alone.
    static bool Handle(HWND page, HostSession& session, UINT message, WPARAM wParam, LPARAM lParam) {
        if (session.optionItems == nullptr) return false;
        if (message == WM_COMMAND && HIWORD(wParam) == CBN_SELCHANGE) {
            const int index = LOWORD(wParam) - kOptionListBase;
            if (index < 0 || static_cast<DWORD>(index) >= session.optionItemCount) return false;
            OPTITEM& item = session.optionItems[index];
            const LONG old = item.Sel;
            Store(page, session);
            Act(page, session, session.CallOptionCallback(CPSUICB_REASON_SEL_CHANGED, page, &item, old));
            PropSheet_Changed(GetParent(page), page);
            return true;
        }
        if (message != WM_NOTIFY) return false;
        const auto* header = reinterpret_cast<const NMHDR*>(lParam);
        OPTITEM* first = session.optionItems;
        if (header->code == PSN_SETACTIVE) {
            Act(page, session, session.CallOptionCallback(CPSUICB_REASON_SETACTIVE, page, first, first->Sel));
        } else if (header->code == PSN_APPLY) {
            Store(page, session);
            if (session.CallOptionCallback(CPSUICB_REASON_APPLYNOW, page, first, first->Sel) ==
                CPSUICB_ACTION_NO_APPLY_EXIT) {
                SetWindowLongPtrW(page, DWLP_MSGRESULT, PSNRET_INVALID_NOCHANGEPAGE);
                return true;
            }
        }
        return false;
    }
};

namespace {

void ShowOrientation(HWND page, const DEVMODEW& dm) {
    CheckRadioButton(page, kPortraitButton, kLandscapeButton,
                     dm.dmOrientation == DMORIENT_LANDSCAPE ? kLandscapeButton : kPortraitButton);
    const wchar_t* name = PaperName(dm.dmPaperSize);
    wchar_t text[64];
    if (name != nullptr) {
        swprintf(text, 64, L"%ls", name);
    } else {
        swprintf(text, 64, L"paper %d", dm.dmPaperSize);
    }
    SetDlgItemTextW(page, kPaperText, text);
}

}  // namespace

INT_PTR HostPages::PageProc(HostPages::Kind kind, HWND page, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        auto* session = reinterpret_cast<HostSession*>(reinterpret_cast<const PROPSHEETPAGEW*>(lParam)->lParam);
        SetWindowLongPtrW(page, DWLP_USER, reinterpret_cast<LONG_PTR>(session));
        switch (kind) {
        case HostPages::Kind::Layout:
            ShowOrientation(page, *session->PublicDevMode());
            break;
        case HostPages::Kind::Options:
            ShowWindow(GetDlgItem(page, kNoOptionsText), OptionControls::Create(page, *session, 7) > 0 ? SW_HIDE : SW_SHOW);
            break;
        case HostPages::Kind::General:
            SetDlgItemTextW(page, kPrinterText, session->uiParam.pPrinterName);
            OptionControls::Create(page, *session, 80);
            break;
        }
        return TRUE;
    }
    HostSession* session = SessionOf(page);
    if (session == nullptr) return FALSE;
    if (kind != HostPages::Kind::Layout && OptionControls::Handle(page, *session, message, wParam, lParam)) {
        return TRUE;
    }
    switch (message) {
    case WM_COMMAND:
        if (HIWORD(wParam) == BN_CLICKED && (LOWORD(wParam) == kPortraitButton || LOWORD(wParam) == kLandscapeButton)) {
            PropSheet_Changed(GetParent(page), page);
        }
        return FALSE;
    case WM_NOTIFY: {
        const auto* header = reinterpret_cast<const NMHDR*>(lParam);
        if (header->code == PSN_APPLY) {
            if (kind == HostPages::Kind::Layout) {
                session->PublicDevMode()->dmOrientation = static_cast<short>(
                    IsDlgButtonChecked(page, kLandscapeButton) == BST_CHECKED ? DMORIENT_LANDSCAPE : DMORIENT_PORTRAIT);
            }
            session->applied = true;
            SetWindowLongPtrW(page, DWLP_MSGRESULT, PSNRET_NOERROR);
            return TRUE;
        }
        return FALSE;
    }
    default:
        return FALSE;
    }
}

namespace {

INT_PTR CALLBACK LayoutProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam) {
    return HostPages::PageProc(HostPages::Kind::Layout, page, message, wParam, lParam);
}
INT_PTR CALLBACK OptionsProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam) {
    return HostPages::PageProc(HostPages::Kind::Options, page, message, wParam, lParam);
}
INT_PTR CALLBACK GeneralProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam) {
    return HostPages::PageProc(HostPages::Kind::General, page, message, wParam, lParam);
}

}  // namespace

HPROPSHEETPAGE HostPages::Create(HostSession& session, Kind kind) {
    DLGPROC proc = nullptr;
    switch (kind) {
    case Kind::Layout: {
        DialogTemplate dialog(L"Layout", kPageWidth, kPageHeight);
        dialog.Add(0xFFFF, kButton, L"Orientation", BS_GROUPBOX, 7, 7, 238, 50);
        dialog.Add(kPortraitButton, kButton, L"Portrait", BS_AUTORADIOBUTTON | WS_GROUP | WS_TABSTOP, 16, 21, 100, 12);
        dialog.Add(kLandscapeButton, kButton, L"Landscape", BS_AUTORADIOBUTTON, 16, 37, 100, 12);
        dialog.Add(0xFFFF, kStatic, L"Paper size:", SS_LEFT, 7, 68, 60, 10);
        dialog.Add(kPaperText, kStatic, L"", SS_LEFT, 70, 68, 175, 10);
        session.templates.push_back(std::move(dialog.words));
        proc = LayoutProc;
        break;
    }
    case Kind::Options: {
        DialogTemplate dialog(L"Advanced", kPageWidth, kPageHeight);
        dialog.Add(kNoOptionsText, kStatic, L"This printer has no further document options.", SS_LEFT, 7, 7, 238, 10);
        session.templates.push_back(std::move(dialog.words));
        proc = OptionsProc;
        break;
    }
    case Kind::General: {
        DialogTemplate dialog(L"General", kPageWidth, kPageHeight);
        dialog.Add(kPrinterText, kStatic, L"", SS_LEFT, 7, 7, 238, 12);
        dialog.Add(0xFFFF, kStatic, L"Model:", SS_LEFT, 7, 28, 60, 10);
        dialog.Add(0xFFFF, kStatic, L"QZ410 colour printer", SS_LEFT, 70, 28, 175, 10);
        dialog.Add(0xFFFF, kStatic, L"Color:", SS_LEFT, 7, 42, 60, 10);
        dialog.Add(0xFFFF, kStatic, L"Yes", SS_LEFT, 70, 42, 175, 10);
        dialog.Add(0xFFFF, kStatic, L"Port:", SS_LEFT, 7, 56, 60, 10);
        dialog.Add(0xFFFF, kStatic, L"FILE:", SS_LEFT, 70, 56, 175, 10);
        session.templates.push_back(std::move(dialog.words));
        proc = GeneralProc;
        break;
    }
    }
    PROPSHEETPAGEW page{};
    page.dwSize = sizeof page;
    page.dwFlags = PSP_DLGINDIRECT;
    page.hInstance = GetModuleHandleW(nullptr);
    page.pResource = reinterpret_cast<LPCDLGTEMPLATE>(session.templates.back().data());
    page.pfnDlgProc = proc;
    page.lParam = reinterpret_cast<LPARAM>(&session);
    return CreatePropertySheetPageW(&page);
}

}  // namespace qz410host
