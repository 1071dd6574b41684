#include <filesystem>
#include <iostream>
#include <string>
#include <vector>

#include "PreviewTool.h"

#ifdef _WIN32
// Wide arguments, so that any file name the system can hold reaches the tool;
// they travel as UTF-8 and become wide paths again when files are opened.
int wmain(int argc, wchar_t** argv) {
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i) {
        const std::u8string utf8 = std::filesystem::path(argv[i]).u8string();
        args.emplace_back(utf8.begin(), utf8.end());
    }
    return qz410::preview::RunPreviewTool(args, std::cout, std::cerr);
}
#else
int main(int argc, char** argv) {
    return qz410::preview::RunPreviewTool(std::vector<std::string>(argv + 1, argv + argc), std::cout, std::cerr);
}
#endif
