// qz410host --screenshots DIR [--picture FILE.bmp]
#pragma once

#include <string>

namespace qz410host {

// Saves DIR\color-correction-<arch>.png, option-page-<arch>.png and
// version-<arch>.png (each page the plug-in does not provide is skipped with
// a printed line). Without a picture, a sample picture of its own is written
// into DIR first. Returns the program's exit status.
int RunScreenshots(const wchar_t* dllPath, const std::wstring& directory, std::wstring picture);

}  // namespace qz410host
