// Opening a link of the Version page: through the shell, or, on systems
// where the shell knows no handler for it, with the program registered for
// HTML files, given the link on its command line.
#include "versionpage/VersionPage.h"

#include <shellapi.h>

#include "plugin/UniqueResource.h"
#include "versionpage/CommandTemplate.h"

namespace qz410 {

LONG ReadClassesRootDefault(HKEY root, const wchar_t* subKey, wchar_t* out, size_t outUnits) noexcept {
    HKEY opened = nullptr;
    LONG error = RegOpenKeyExW(root, subKey, 0, KEY_QUERY_VALUE, &opened);
    if (error != ERROR_SUCCESS) return error;
    const UniqueRegKey key(opened);

    // Zeroed, so that a value stored without its terminator still ends
    // inside the buffer when it is shorter than the buffer.
    wchar_t value[kVersionTextUnits] = {};
    LONG bytes = sizeof value;
    error = RegQueryValueW(key.Get(), nullptr, value, &bytes);
    if (error != ERROR_SUCCESS) return error;
    const size_t length = BoundedLength(value, kVersionTextUnits);
    if (length == kVersionTextUnits || length >= outUnits) return ERROR_MORE_DATA;
    for (size_t i = 0; i < length; ++i) out[i] = value[i];
    out[length] = 0;
    return ERROR_SUCCESS;
}

UINT_PTR OpenLink(const wchar_t* target, int showCommand) noexcept {
    const auto shell =
        reinterpret_cast<UINT_PTR>(ShellExecuteW(nullptr, L"open", target, nullptr, nullptr, showCommand));
    if (shell > 32) return shell;

    // The class of .htm files, then its open command; a class name, the key
    // path and the command with the link all fit twice the text size.
    wchar_t command[2 * kVersionTextUnits];
    constexpr size_t kCommandUnits = sizeof command / sizeof command[0];
    if (ReadClassesRootDefault(HKEY_CLASSES_ROOT, L".htm", command, kCommandUnits) != ERROR_SUCCESS) return shell;
    if (!AppendBounded(command, kCommandUnits, L"\\shell\\open\\command")) return shell;
    if (ReadClassesRootDefault(HKEY_CLASSES_ROOT, command, command, kCommandUnits) != ERROR_SUCCESS) return shell;
    if (!MakeLinkCommandLine(command, kCommandUnits, target)) return shell;

    // WinExec takes the ANSI code page; a double-byte code page needs up to
    // two bytes a unit, so the size is asked for first.
    const int bytes = WideCharToMultiByte(CP_ACP, 0, command, -1, nullptr, 0, nullptr, nullptr);
    if (bytes <= 0) return shell;
    const UniqueHeapBlock ansi(HeapAlloc(GetProcessHeap(), 0, static_cast<SIZE_T>(bytes)));
    if (!ansi) return shell;
    auto* line = static_cast<char*>(ansi.Get());
    if (WideCharToMultiByte(CP_ACP, 0, command, -1, line, bytes, nullptr, nullptr) != bytes) return shell;
    return WinExec(line, static_cast<UINT>(showCommand));
}

}  // namespace qz410
