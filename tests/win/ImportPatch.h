// Lets a test watch or steer what the loaded QZ410UI.DLL asks of the system
// (spooler, shell, file dialogs, message boxes) without any hook in the
// product: the DLL's own import address table entry for one function is
// pointed at a replacement for the life of the patch.
#pragma once

#include <windows.h>

namespace qz410test {

// The DLL's import address table entry for `function` of `importedDll`
// (matched case-insensitively, "comdlg32.dll"), or null when the module does
// not import it by name.
void** FindImportSlot(HMODULE module, const char* importedDll, const char* function);
// Writes an import address table entry, whatever the page's protection.
void WriteImportSlot(void** slot, void* value);

class ImportPatch {
public:
    // `importedDll` is matched case-insensitively ("comdlg32.dll"). The patch
    // is empty (false) when the module does not import that function.
    ImportPatch(HMODULE module, const char* importedDll, const char* function, void* replacement);
    ~ImportPatch();
    ImportPatch(const ImportPatch&) = delete;
    ImportPatch& operator=(const ImportPatch&) = delete;

    explicit operator bool() const { return slot_ != nullptr; }
    // The function the DLL was bound to, for replacements that pass calls on.
    template <typename F>
    F Original() const {
        return reinterpret_cast<F>(original_);
    }

private:
    void** slot_ = nullptr;
    void* original_ = nullptr;
};

}  // namespace qz410test
