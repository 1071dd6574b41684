#include "tools/qz410host/DialogPerson.h"

#include <algorithm>
#include <cwchar>

namespace qz410host {

namespace {

// The file name box of the common file dialog (old and Explorer style).
constexpr int kFileNameEdit = 0x480;
constexpr int kFileNameCombo = 0x47C;

struct Answerer {
    Answerer(DWORD threadId, HWND sheet, const std::wstring& path) : threadId(threadId), sheet(sheet), path(path) {}

    DWORD threadId;
    HWND sheet;
    std::wstring path;
    volatile LONG stop = 0;
    DialogAnswers answers;
    std::vector<HWND> answered;

    static BOOL CALLBACK Answer(HWND window, LPARAM lParam) {
        auto* self = reinterpret_cast<Answerer*>(lParam);
        wchar_t className[16] = {};
        GetClassNameW(window, className, 16);
        if (window == self->sheet || wcscmp(className, L"#32770") != 0 || !IsWindowVisible(window) ||
            GetDlgItem(window, IDOK) == nullptr ||
            std::find(self->answered.begin(), self->answered.end(), window) != self->answered.end()) {
            return TRUE;
        }
        HWND name = GetDlgItem(window, kFileNameEdit);
        if (name == nullptr) name = GetDlgItem(window, kFileNameCombo);
        if (name != nullptr) {
            SendMessageW(name, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(self->path.c_str()));
            self->answers.fileDialogAnswered = true;
        } else {
            wchar_t text[260] = {};
            GetDlgItemTextW(window, 0xFFFF, text, 260);
            self->answers.said.push_back(text);
        }
        PostMessageW(window, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
                     reinterpret_cast<LPARAM>(GetDlgItem(window, IDOK)));
        self->answered.push_back(window);
        return TRUE;
    }

    static DWORD WINAPI Run(void* parameter) {
        auto* self = static_cast<Answerer*>(parameter);
        for (int tick = 0; tick < 400 && InterlockedCompareExchange(&self->stop, 0, 0) == 0; ++tick) {
            Sleep(50);
            EnumThreadWindows(self->threadId, Answer, reinterpret_cast<LPARAM>(self));
        }
        return 0;
    }
};

}  // namespace

DialogAnswers ClickAndAnswer(HWND button, HWND sheet, const std::wstring& path) {
    Answerer answerer(GetCurrentThreadId(), sheet, path);
    HANDLE thread = CreateThread(nullptr, 0, Answerer::Run, &answerer, 0, nullptr);
    if (thread == nullptr) return {};
    // Returns when the command is done: the dialogs run their own loops on
    // this thread meanwhile.
    SendMessageW(button, BM_CLICK, 0, 0);
    InterlockedExchange(&answerer.stop, 1);
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
    return answerer.answers;
}

}  // namespace qz410host
