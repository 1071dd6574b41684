// qz410host --install-printer NAME and --initialize NAME
#pragma once

namespace qz410host {

// Installs a printer NAME on port FILE: with Wine's PostScript driver and a
// printer description of our own (made anew when it is there already).
int RunInstallPrinter(const wchar_t* printer);
// Prints the printer's stored default device mode, lets the plug-in
// initialise the printer (PrinterEvent, PRINTER_EVENT_INITIALIZE) and prints
// the device mode again.
int RunInitialize(const wchar_t* dllPath, const wchar_t* printer);

}  // namespace qz410host
