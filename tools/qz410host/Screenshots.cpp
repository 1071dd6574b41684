// The screenshot mode of qz410host: opens the sheets as a person would use
// them, sets a few controls through their real messages and saves pictures
// of the Color correction page, the option page with the "Smear Control"
// list open, and the Version page.
#include "tools/qz410host/Screenshots.h"

#include <wincodec.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

#include "tools/qz410host/DialogPerson.h"
#include "tools/qz410host/HostPages.h"
#include "tools/qz410host/HostSession.h"
#include "tools/qz410host/PictureFiles.h"

namespace qz410host {

namespace {

// Control ids of the plug-in's Color correction page.
constexpr int kSelectFileButton = 1011;
constexpr struct {
    int id;
    int position;
} kSliderMoves[] = {
    {1004, 2},  // brightness
    {1005, 3},  // contrast
    {1007, 5},  // saturation
    {1010, 2},  // sharpness
    {1009, -2}, // yellow-blue
};
constexpr size_t kPreviewPathOffset = 40;

const wchar_t* Arch() { return sizeof(void*) == 4 ? L"x86" : L"x64"; }

// A photo of a camera's proportions, 480 x 360, whose centre 192 x 192 (the
// part the preview shows of a larger picture) holds what colour corrections
// show well: a sky gradient, a sun, a skin tone, saturated primaries, fine
// stripes and a grey ramp; around it sky and meadow go on. Written as a JPEG
// through the system's own encoder, as a camera or phone would have.
bool WriteSamplePhoto(const std::wstring& path) {
    constexpr int width = 480, height = 360;
    // The preview's square: x0 = 480 / 2 - 96, and 84 rows from the bottom.
    constexpr int left = 144, top = 84;
    std::vector<uint8_t> rows(size_t{3} * width * height);
    static const int primaries[6][3] = {{220, 30, 30},  {30, 180, 40},  {30, 60, 220},
                                        {30, 200, 210}, {210, 40, 190}, {240, 220, 30}};
    for (int row = 0; row < height; ++row) {
        for (int column = 0; column < width; ++column) {
            const int x = column - left, y = std::clamp(row - top, -96, 191);  // the square's own place
            int r, g, b;
            if (y < 96) {  // sky, lighter towards the horizon
                r = std::max(0, 90 + y * 5 / 4);
                g = std::max(0, 140 + y);
                b = 230 - y / 8;
            } else {  // meadow
                r = 60 + ((x * 7 + y * 3) % 20 + 20) % 20;
                g = 150 - (y - 96) / 3;
                b = 50;
            }
            const int sx = x - 150, sy = y - 36;
            if (sx * sx + sy * sy < 20 * 20) r = 255, g = 214, b = 60;  // sun
            const int fx = x - 48, fy = y - 92;
            if (fx * fx * 4 + fy * fy * 3 < 56 * 56) r = 232, g = 176, b = 140;  // skin
            if (y >= 104 && y < 128 && x >= 100 && x < 186) {                    // fine stripes
                r = g = b = (x % 2 == 0) != (y % 2 == 0) ? 30 : 225;
            }
            if (y >= 136 && y < 164 && x >= 6 && x < 186) {  // red, green, blue, cyan, magenta, yellow
                const int* p = primaries[(x - 6) / 30];
                r = p[0], g = p[1], b = p[2];
            }
            if (y >= 170) r = g = b = std::clamp(x * 255 / 191, 0, 255);  // grey ramp
            uint8_t* pixel = &rows[3 * (size_t(row) * width + column)];
            pixel[0] = static_cast<uint8_t>(b);
            pixel[1] = static_cast<uint8_t>(g);
            pixel[2] = static_cast<uint8_t>(r);
        }
    }
    return EncodePicture(path, GUID_ContainerFormatJpeg, GUID_WICPixelFormat24bppBGR, width, height, 3 * width, rows);
}

std::wstring FullPath(const std::wstring& path) {
    wchar_t full[MAX_PATH] = {};
    const DWORD length = GetFullPathNameW(path.c_str(), MAX_PATH, full, nullptr);
    return length > 0 && length < MAX_PATH ? std::wstring(full, length) : path;
}

// Moves a trackbar as a person's drag ends: the new position, then the
// notifications the trackbar sends its parent.
void MoveSlider(HWND page, int id, int position) {
    HWND slider = GetDlgItem(page, id);
    if (slider == nullptr) return;
    SendMessageW(slider, TBM_SETPOS, TRUE, position);
    SendMessageW(page, WM_HSCROLL, MAKEWPARAM(TB_THUMBPOSITION, position), reinterpret_cast<LPARAM>(slider));
    SendMessageW(page, WM_HSCROLL, MAKEWPARAM(TB_ENDTRACK, 0), reinterpret_cast<LPARAM>(slider));
}

// "Select file" clicked as a person does, the real file dialog answered by
// the answerer; true when the page took the picture into the device mode.
bool ChoosePicture(HostSession& session, HWND page, const std::wstring& picture) {
    HWND button = GetDlgItem(page, kSelectFileButton);
    if (button == nullptr) return false;
    const DialogAnswers answers = ClickAndAnswer(button, session.SheetWindow(), picture);
    for (const std::wstring& text : answers.said) std::printf("the page says: %ls\n", text.c_str());
    session.PumpFor(100);
    const auto* path = reinterpret_cast<const wchar_t*>(session.PrivateDevMode() + kPreviewPathOffset);
    return answers.fileDialogAnswered && _wcsicmp(path, picture.c_str()) == 0;
}

// Waits until the sheet has painted, then saves it.
bool SaveSheet(HostSession& session, const std::wstring& path, HWND openList = nullptr) {
    session.PumpFor(300);
    RedrawWindow(session.SheetWindow(), nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
    session.PumpFor(300);
    bool saved;
    if (openList == nullptr) {
        saved = SaveWindowPng(session.SheetWindow(), path.c_str());
    } else {
        // The open list is a window of its own above the sheet: the picture
        // comes from the screen.
        RECT area{}, list{};
        GetWindowRect(session.SheetWindow(), &area);
        SendMessageW(openList, CB_GETDROPPEDCONTROLRECT, 0, reinterpret_cast<LPARAM>(&list));
        UnionRect(&area, &area, &list);
        saved = SaveScreenPng(area, path.c_str());
    }
    std::printf("%s %ls\n", saved ? "saved" : "could not save", path.c_str());
    return saved;
}

int PageCount(HostSession& session) {
    return TabCtrl_GetItemCount(PropSheet_GetTabControl(session.SheetWindow()));
}

}  // namespace

int RunScreenshots(const wchar_t* dllPath, const std::wstring& directory, std::wstring picture) {
    const std::wstring dir = FullPath(directory);
    CreateDirectoryW(dir.c_str(), nullptr);
    if (picture.empty()) {
        picture = dir + L"\\sample-photo.jpg";
        if (!WriteSamplePhoto(picture)) {
            std::printf("cannot write %ls\n", picture.c_str());
            return 1;
        }
    }
    picture = FullPath(picture);
    int failures = 0;

    HostSession session;
    if (!session.Load(dllPath)) return 1;
    if (session.OpenModeless(HostSession::Sheet::Document) == nullptr) return 1;
    const int first = session.FirstPluginPageIndex();
    if (PageCount(session) <= first) {
        std::printf("the plug-in adds no document page: color-correction-%ls.png skipped\n", Arch());
    } else {
        HWND page = session.ShowPage(first);
        for (const auto& move : kSliderMoves) MoveSlider(page, move.id, move.position);
        if (ChoosePicture(session, page, picture)) {
            std::printf("picture chosen through the page's file dialog: %ls\n", picture.c_str());
        } else {
            std::printf("the page did not take %ls through its file dialog\n", picture.c_str());
            ++failures;
        }
        if (!SaveSheet(session, dir + L"\\color-correction-" + Arch() + L".png")) ++failures;
    }

    HWND options = session.ShowPage(1);
    HWND smearList = nullptr;
    for (DWORD i = 0; i < session.OptionItemCount(); ++i) {
        const OPTITEM& item = session.OptionItems()[i];
        if (item.pName != nullptr && !IS_INTRESOURCE(item.pName) && wcscmp(item.pName, L"Smear Control") == 0) {
            smearList = GetDlgItem(options, kOptionListBase + static_cast<int>(i));
        }
    }
    if (smearList == nullptr) {
        std::printf("the plug-in adds no \"Smear Control\" option: option-page-%ls.png skipped\n", Arch());
    } else {
        SetFocus(smearList);
        SendMessageW(smearList, CB_SHOWDROPDOWN, TRUE, 0);
        if (!SaveSheet(session, dir + L"\\option-page-" + Arch() + L".png", smearList)) ++failures;
        SendMessageW(smearList, CB_SHOWDROPDOWN, FALSE, 0);
    }
    session.Press(PSBTN_CANCEL);

    if (session.OpenModeless(HostSession::Sheet::Device) == nullptr) return 1;
    if (PageCount(session) <= session.FirstPluginPageIndex()) {
        std::printf("the plug-in adds no device page: version-%ls.png skipped\n", Arch());
    } else {
        session.ShowPage(session.FirstPluginPageIndex());
        if (!SaveSheet(session, dir + L"\\version-" + Arch() + L".png")) ++failures;
    }
    session.Press(PSBTN_CANCEL);
    return failures == 0 ? 0 : 1;
}

}  // namespace qz410host
