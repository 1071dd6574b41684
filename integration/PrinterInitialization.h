// What the plug-in does through the print spooler: the default device mode
// of a newly installed printer, and the name of the printer's colour profile.
#pragma once

#include "plugin/HostContract.h"

namespace qz410 {

// PrinterEvent: on PRINTER_EVENT_INITIALIZE the printer's stored default
// device mode becomes landscape, on the second paper of the printer's list,
// with colour management by the system. Always E_NOTIMPL, also after a
// complete initialisation; a failing step ends the work silently.
HRESULT HandlePrinterEvent(PWSTR pPrinterName, INT iDriverEvent) noexcept;

// QueryColorProfile: the device profile's file name.
HRESULT HandleQueryColorProfile(ULONG ulQueryMode, VOID* pvProfileData, ULONG* pcbProfileData,
                                FLONG* pflProfileData) noexcept;

}  // namespace qz410
