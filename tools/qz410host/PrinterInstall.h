// A printer of our own in a Wine prefix, for the printer initialisation to
// work on: Wine's PostScript driver (wineps.drv) with a PPD file written
// here, whose paper list has a distinctive second entry.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace qz410host {

// The paper code of the PPD's second page size (A5), which the
// initialisation should pick; the first is Letter.
inline constexpr short kInstalledSecondPaper = DMPAPER_A5;
inline constexpr short kInstalledFirstPaper = DMPAPER_LETTER;

// Registers the driver (wineps.drv with our PPD) for this process's
// environment, then adds the printer on "FILE:" unless a printer of that
// name opens already. `added` tells which. On failure `problem` names the
// step and the error.
bool InstallPrinter(const wchar_t* name, bool* added, std::wstring* problem);

// The printer's stored default device mode (GetPrinterW level 2), as the
// spooler keeps it.
struct StoredDefaults {
    bool present = false;  // the record carries a device mode
    short orientation = 0;
    short paperSize = 0;
    DWORD icmMethod = 0;
    DWORD fields = 0;
};
bool ReadStoredDefaults(const wchar_t* printer, StoredDefaults* defaults, std::wstring* problem);

// Stores a default device mode with these three members (and their field
// bits) through the driver's merge, as a freshly installed printer might
// have it.
bool StoreDefaults(const wchar_t* printer, short orientation, short paperSize, DWORD icmMethod,
                   std::wstring* problem);

// The printer's paper list (DC_PAPERS), in the driver's order.
std::vector<WORD> PaperList(const wchar_t* printer);

}  // namespace qz410host
