#include "colorpage/ColorPage.h"

#include <windows.h>
#include <commdlg.h>

#include <cstring>
#include <cwchar>
#include <new>

#include "colorpage/OutsideFiles.h"
#include "colorpage/PageControls.h"
#include "imaging/PictureHeader.h"
#include "imaging/PictureLoader.h"
#include "plugin/SheetPage.h"
#include "resources/resource.h"
#include "settings/RawBytes.h"

namespace qz410 {

static_assert(sizeof(wchar_t) == sizeof(char16_t));
static_assert(sizeof(PROPSHEETPAGEW) == sizeof(PROPSHEETPAGEW_V3));

namespace {

void AddColorPage(PPROPSHEETUI_INFO info, ColorPageContext* context) {
    context->pageHandle = reinterpret_cast<HANDLE>(
        AddModulePage(info, IDD_COLOR_PAGE, ColorPageProc, reinterpret_cast<LPARAM>(context)));
    info->Result = static_cast<ULONG_PTR>(info->pfnComPropSheet(info->hComPropSheet, CPSFUNC_GET_PAGECOUNT, 0, 0));
}

HRESULT InitSheet(PPROPSHEETUI_INFO info) {
    auto* uiParam = reinterpret_cast<POEMUIPSPARAM>(info->lParamInit);
    if (uiParam == nullptr || uiParam->hOEMHeap == nullptr || uiParam->pOEMDM == nullptr ||
        info->pfnComPropSheet == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return E_FAIL;
    }
    // The page cannot work without its record, so without one it is not
    // added at all, and the host learns that the request failed.
    void* memory = HeapAlloc(uiParam->hOEMHeap, HEAP_ZERO_MEMORY, sizeof(ColorPageContext));
    if (memory == nullptr) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return E_FAIL;
    }
    auto* context = new (memory) ColorPageContext();
    context->hComPropSheet = info->hComPropSheet;
    context->pfnComPropSheet = info->pfnComPropSheet;
    context->uiParam = uiParam;
    context->appliedSettings = LiveSettings(context);
    AddColorPage(info, context);
    return S_OK;
}

// The message for a chosen file that cannot be shown. A file that begins as
// a bitmap keeps the bitmap texts: one whose headers cannot be read is no
// bitmap, and one that no decoder here reads is best replaced by the kind
// every system shows.
const wchar_t* RefusalOf(const PictureHeader& header, DecodeOutcome outcome) {
    if (header.verdict == HeaderVerdict::tooLarge || outcome == DecodeOutcome::tooLarge) {
        return L"This picture is too large.";
    }
    if (header.format != PictureFormat::bitmap) return L"This is not a picture file.";
    return header.verdict == HeaderVerdict::usable ? L"Select a 24-bit true color bitmap image file."
                                                   : L"This is not a bitmap image file.";
}

void SelectPreviewPicture(HWND hDlg, ColorPageContext* context) {
    wchar_t path[kPathUnits];
    OPENFILENAMEW dialog;
    PrepareFileDialog(dialog, hDlg, path);
    dialog.lpstrFilter =
        L"Pictures\0*.bmp;*.dib;*.jpg;*.jpeg;*.jpe;*.jfif;*.png;*.gif;*.tif;*.tiff\0"
        L"24-bit true color bitmap image file\0*.BMP\0All\0*.*\0";
    dialog.Flags = OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST | OFN_READONLY;
    if (!ChooseExistingFile(dialog)) return;
    path[kPathUnits - 1] = 0;

    UniqueFile file = OpenChosenFile(path);
    if (!file) return;
    // A plain 24-bit BMP is taken on its headers, as the preview reads it
    // afresh each time; any other picture is decoded now, so that a file no
    // decoder here reads is refused while the user is looking, and the
    // preview then shows the picture kept from this decoding.
    FileSource source(file.Get());
    const PictureHeader header = ReadPictureHeader(source);
    if (!header.plainBitmap) {
        const DecodeOutcome outcome =
            DecodePicture(file.Get(), path, header, CropBuffer(context), context->keptPicture);
        // Without memory nothing is said, as for a bitmap's headers; without
        // a crop buffer the choice is kept for when the page has one.
        if (outcome == DecodeOutcome::noMemory) return;
        if (outcome != DecodeOutcome::decoded && outcome != DecodeOutcome::noCropBuffer) {
            file.Reset();
            ShowMessage(RefusalOf(header, outcome));
            return;
        }
    }
    file.Reset();
    PrivateDevMode* live = LiveDevMode(context);
    std::memset(live->previewImagePath, 0, sizeof live->previewImagePath);
    std::memcpy(live->previewImagePath, path, std::wcslen(path) * sizeof(wchar_t));
    InvalidatePreview(hDlg);
}

void RestoreDefaults(HWND hDlg, ColorPageContext* context) {
    PrivateDevMode* live = LiveDevMode(context);
    std::memset(live->previewImagePath, 0, sizeof live->previewImagePath);
    ColorSettings defaults{};
    defaults.unsharpAmount = 5;
    defaults.unsharpRadius = 10;
    defaults.unsharpThreshold = 5;
    WritePageControls(hDlg, defaults);
    DetectPageChange(hDlg, LiveSettings(context));
    InvalidatePreview(hDlg);
}

void OnInitDialog(HWND hDlg, LPARAM lParam) {
    const auto* page = reinterpret_cast<const PROPSHEETPAGEW*>(lParam);
    auto* context = page != nullptr ? reinterpret_cast<ColorPageContext*>(page->lParam) : nullptr;
    if (context != nullptr) {
        // The record first, so that every control operation below finds
        // the control table in it.
        for (int i = 0; i < kControlCount; ++i) context->controls[i] = GetDlgItem(hDlg, kFirstControlId + i);
        SetWindowLongPtrW(hDlg, DWLP_USER, reinterpret_cast<LONG_PTR>(context));
    }
    SetSliderRanges(hDlg);
    if (context == nullptr) return;
    WritePageControls(hDlg, LiveSettings(context));
    DetectPageChange(hDlg, LiveSettings(context));
    context->previewCropBuffer.Reset(HeapAlloc(GetProcessHeap(), 0, kPreviewCropBufferSize));
}

void OnCommand(HWND hDlg, WPARAM wParam) {
    if (HIWORD(wParam) != BN_CLICKED) return;
    ColorPageContext* context = PageContext(hDlg);
    if (context == nullptr) return;
    switch (LOWORD(wParam)) {
    case IDC_SELECT_FILE:
        SelectPreviewPicture(hDlg, context);
        break;
    case IDC_SAVE_SETTINGS:
        SaveSettingsFile(hDlg);
        break;
    case IDC_LOAD_SETTINGS:
        LoadSettingsFile(hDlg);
        break;
    case IDC_DEFAULT_SETTINGS:
        RestoreDefaults(hDlg, context);
        break;
    case IDC_UNSHARP_MASK:
        InvalidatePreview(hDlg);
        break;
    default:
        break;
    }
}

void OnNotify(HWND hDlg, const NMHDR* header) {
    ColorPageContext* context = PageContext(hDlg);
    if (header == nullptr || context == nullptr) return;
    switch (header->code) {
    case PSN_SETACTIVE:
        StoreLiveSettings(context, context->appliedSettings);
        break;
    case PSN_KILLACTIVE: {
        ColorSettings live = LiveSettings(context);
        ReadPageControlsQuietly(hDlg, live);
        StoreLiveSettings(context, live);
        break;
    }
    case PSN_APPLY:
        context->appliedSettings = LiveSettings(context);
        context->pfnComPropSheet(context->hComPropSheet, CPSFUNC_SET_RESULT,
                                 reinterpret_cast<LPARAM>(context->pageHandle), CPSUI_OK);
        break;
    default:
        break;
    }
}

}  // namespace

ColorSettings LiveSettings(const ColorPageContext* context) noexcept {
    ColorSettings settings;
    std::memcpy(&settings, &LiveDevMode(context)->settings, sizeof settings);
    return settings;
}

void StoreLiveSettings(const ColorPageContext* context, const ColorSettings& settings) noexcept {
    std::memcpy(&LiveDevMode(context)->settings, &settings, sizeof settings);
}

ColorPageContext* PageContext(HWND hDlg) noexcept {
    return reinterpret_cast<ColorPageContext*>(GetWindowLongPtrW(hDlg, DWLP_USER));
}

HRESULT HandleDocumentSheets(PPROPSHEETUI_INFO pPSUIInfo, LPARAM lParam) noexcept {
    if (pPSUIInfo == nullptr || pPSUIInfo->Version != PROPSHEETUI_INFO_VERSION) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return E_FAIL;
    }
    switch (pPSUIInfo->Reason) {
    case PROPSHEETUI_REASON_INIT:
        return InitSheet(pPSUIInfo);
    case PROPSHEETUI_REASON_GET_INFO_HEADER:
        if (lParam != 0) reinterpret_cast<PPROPSHEETUI_INFO_HEADER>(lParam)->pTitle = nullptr;
        pPSUIInfo->Result = 1;
        break;
    case PROPSHEETUI_REASON_DESTROY:
        pPSUIInfo->Result = 1;
        break;
    case PROPSHEETUI_REASON_SET_RESULT:
        if (lParam != 0) pPSUIInfo->Result = reinterpret_cast<PSETRESULT_INFO>(lParam)->Result;
        break;
    case PROPSHEETUI_REASON_GET_ICON:
        pPSUIInfo->Result = 0;
        break;
    default:
        pPSUIInfo->Result = static_cast<ULONG_PTR>(lParam);
        break;
    }
    return S_OK;
}

INT_PTR CALLBACK ColorPageProc(HWND hDlg, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_INITDIALOG:
        OnInitDialog(hDlg, lParam);
        break;
    case WM_HSCROLL:
        if (ColorPageContext* context = PageContext(hDlg)) {
            DetectPageChange(hDlg, LiveSettings(context));
            InvalidatePreview(hDlg);
        }
        break;
    case WM_COMMAND:
        OnCommand(hDlg, wParam);
        break;
    case WM_NOTIFY:
        OnNotify(hDlg, reinterpret_cast<const NMHDR*>(lParam));
        break;
    case WM_PAINT:
        RenderPreview(hDlg);
        break;
    case WM_DESTROY:
        if (ColorPageContext* context = PageContext(hDlg)) {
            ForgetKeptPicture(context->keptPicture);
            context->previewCropBuffer.Reset();
        }
        break;
    default:
        break;
    }
    return FALSE;
}

}  // namespace qz410
