// A person at the dialogs that a click opens, for the screenshots and the
// tests that drive the real common file dialogs.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace qz410host {

struct DialogAnswers {
    bool fileDialogAnswered = false;
    std::vector<std::wstring> said;  // the texts of the other dialogs, in order
};

// Clicks `button` and, while its thread runs the dialogs the click opens,
// answers them from a thread of its own: types `path` into a common file
// dialog's file name box and presses its OK button; reads out and closes any
// other dialog with an OK button (a message box). `sheet` is never answered.
// Returns when the click's command is done.
DialogAnswers ClickAndAnswer(HWND button, HWND sheet, const std::wstring& path);

}  // namespace qz410host
