#include "tests/win/ImportPatch.h"

#include <cstring>

namespace qz410test {

void WriteImportSlot(void** slot, void* value) {
    DWORD oldProtect = 0;
    VirtualProtect(slot, sizeof *slot, PAGE_READWRITE, &oldProtect);
    *slot = value;
    VirtualProtect(slot, sizeof *slot, oldProtect, &oldProtect);
}

void** FindImportSlot(HMODULE module, const char* importedDll, const char* function) {
    auto* base = reinterpret_cast<unsigned char*>(module);
    if (base == nullptr) return nullptr;
    auto* dos = reinterpret_cast<IMAGE_DOS_HEADER*>(base);
    auto* nt = reinterpret_cast<IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    const IMAGE_DATA_DIRECTORY& dir = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    if (dir.VirtualAddress == 0) return nullptr;
    for (auto* desc = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + dir.VirtualAddress); desc->Name != 0; ++desc) {
        if (_stricmp(reinterpret_cast<const char*>(base + desc->Name), importedDll) != 0) continue;
        auto* names = reinterpret_cast<IMAGE_THUNK_DATA*>(
            base + (desc->OriginalFirstThunk != 0 ? desc->OriginalFirstThunk : desc->FirstThunk));
        auto* bound = reinterpret_cast<IMAGE_THUNK_DATA*>(base + desc->FirstThunk);
        for (; names->u1.AddressOfData != 0; ++names, ++bound) {
            if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal)) continue;
            auto* byName = reinterpret_cast<IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData);
            if (std::strcmp(reinterpret_cast<const char*>(byName->Name), function) == 0) {
                return reinterpret_cast<void**>(&bound->u1.Function);
            }
        }
    }
    return nullptr;
}

ImportPatch::ImportPatch(HMODULE module, const char* importedDll, const char* function, void* replacement)
    : slot_(FindImportSlot(module, importedDll, function)) {
    if (slot_ == nullptr) return;
    original_ = *slot_;
    WriteImportSlot(slot_, replacement);
}

ImportPatch::~ImportPatch() {
    if (slot_ != nullptr) WriteImportSlot(slot_, original_);
}

}  // namespace qz410test
