// qz410-preview: runs the colour-correction preview over a BMP file outside
// the property sheet, so that a picture and a set of settings can be checked
// (and compared between builds) without Windows' printing dialogs.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

namespace qz410::preview {

enum ExitCode { kSuccess = 0, kFailure = 1, kUsage = 2 };

// `args` are the command-line arguments after the program name, in UTF-8 on
// Windows and as given elsewhere. Returns the process exit code.
int RunPreviewTool(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace qz410::preview
