#include "integration/PrinterInitialization.h"

#include <winspool.h>

#include <cstddef>
#include <cstring>

#include "integration/PrinterName.h"
#include "plugin/UniqueResource.h"

namespace qz410 {
namespace {

static_assert(sizeof(wchar_t) == sizeof(char16_t));

constexpr wchar_t kProfileName[] = L"Ardix QZ410 v1.0.icc";
// The size reported for the name: its 42 bytes and one unit more, as the
// driver has always reported it.
constexpr ULONG kProfileSizeReported = 44;
static_assert(sizeof kProfileName == 42);

// A device mode must reach past the last member written to be written.
constexpr LONG kDevModeMembersEnd = offsetof(DEVMODEW, dmICMMethod) + sizeof(DWORD);
constexpr int kPaperRoom = 8;

void* Allocate(size_t bytes) noexcept { return HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, bytes); }

// The second code of the printer's paper list, or 0 when the list is shorter
// than two; -1 when the spooler cannot tell. The list is counted first, so
// that a long one gets room enough.
int SecondPaper(LPCWSTR printer, LPCWSTR port, const DEVMODEW* devMode) noexcept {
    const int count = DeviceCapabilitiesW(printer, port, DC_PAPERS, nullptr, devMode);
    if (count < 0) return -1;
    if (count < 2) return 0;
    WORD room[kPaperRoom] = {};
    UniqueHeapBlock longList;
    WORD* papers = room;
    if (count > kPaperRoom) {
        longList.Reset(Allocate(size_t(count) * sizeof(WORD)));
        if (!longList) return -1;
        papers = static_cast<WORD*>(longList.Get());
    }
    const int listed = DeviceCapabilitiesW(printer, port, DC_PAPERS, reinterpret_cast<LPWSTR>(papers), devMode);
    if (listed < 0) return -1;
    return listed < 2 ? 0 : papers[1];
}

}  // namespace

HRESULT HandlePrinterEvent(PWSTR pPrinterName, INT iDriverEvent) noexcept {
    if (iDriverEvent != PRINTER_EVENT_INITIALIZE) return E_NOTIMPL;

    // Declared in reverse order of their release: the printer is closed
    // first, then the record, the name and the device mode are freed.
    UniqueHeapBlock fetched;
    UniqueHeapBlock nameBuffer(Allocate(kPrinterNameBufferUnits * sizeof(wchar_t)));
    UniqueHeapBlock recordBlock;
    UniquePrinter printer;
    if (!nameBuffer || pPrinterName == nullptr) return E_NOTIMPL;

    auto* workingName = reinterpret_cast<PWSTR>(const_cast<char16_t*>(WorkingPrinterName(
        reinterpret_cast<const char16_t*>(pPrinterName), static_cast<char16_t*>(nameBuffer.Get()))));

    PRINTER_DEFAULTSW defaults = {nullptr, nullptr, PRINTER_ALL_ACCESS};
    HANDLE opened = nullptr;
    if (!OpenPrinterW(workingName, &opened, &defaults)) return E_NOTIMPL;
    printer.Reset(opened);

    DWORD recordSize = 0;
    if (!GetPrinterW(printer.Get(), 2, nullptr, 0, &recordSize) && GetLastError() != ERROR_INSUFFICIENT_BUFFER) {
        return E_NOTIMPL;
    }
    if (recordSize < sizeof(PRINTER_INFO_2W)) return E_NOTIMPL;
    recordBlock.Reset(Allocate(recordSize));
    if (!recordBlock) return E_NOTIMPL;
    if (!GetPrinterW(printer.Get(), 2, static_cast<LPBYTE>(recordBlock.Get()), recordSize, &recordSize)) {
        return E_NOTIMPL;
    }
    auto* record = static_cast<PRINTER_INFO_2W*>(recordBlock.Get());

    const LONG devModeSize = DocumentPropertiesW(nullptr, printer.Get(), record->pPrinterName, nullptr, nullptr, 0);
    if (devModeSize < kDevModeMembersEnd) return E_NOTIMPL;
    fetched.Reset(Allocate(size_t(devModeSize)));
    if (!fetched) return E_NOTIMPL;
    auto* fetchedDevMode = static_cast<DEVMODEW*>(fetched.Get());
    if (DocumentPropertiesW(nullptr, printer.Get(), record->pPrinterName, fetchedDevMode, nullptr, DM_OUT_BUFFER) <
        0) {
        return E_NOTIMPL;
    }

    const int secondPaper = SecondPaper(workingName, record->pPortName, fetchedDevMode);
    if (secondPaper < 0) return E_NOTIMPL;

    // The driver writes its whole device mode back into the target: the
    // record's own is used only when it has room for that.
    DEVMODEW* target = record->pDevMode;
    if (target == nullptr || LONG{target->dmSize} + LONG{target->dmDriverExtra} < devModeSize) {
        target = fetchedDevMode;
        record->pDevMode = target;
    }
    target->dmOrientation = DMORIENT_LANDSCAPE;
    target->dmFields |= DM_ORIENTATION | DM_ICMMETHOD;
    target->dmICMMethod = DMICMMETHOD_SYSTEM;
    // With fewer than two papers there is no second one: the paper stays.
    if (secondPaper != 0) {
        target->dmPaperSize = static_cast<short>(secondPaper);
        target->dmFields = (target->dmFields & ~DWORD{DM_PAPERLENGTH | DM_PAPERWIDTH}) | DM_PAPERSIZE;
    }

    if (DocumentPropertiesW(nullptr, printer.Get(), workingName, target, target, DM_IN_BUFFER | DM_OUT_BUFFER) < 0) {
        return E_NOTIMPL;
    }
    SetPrinterW(printer.Get(), 2, static_cast<LPBYTE>(recordBlock.Get()), 0);
    return E_NOTIMPL;
}

HRESULT HandleQueryColorProfile(ULONG ulQueryMode, VOID* pvProfileData, ULONG* pcbProfileData,
                                FLONG* pflProfileData) noexcept {
    if (ulQueryMode != QCP_DEVICEPROFILE) return E_FAIL;
    if (pcbProfileData == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return E_FAIL;
    }
    if (pvProfileData == nullptr || *pcbProfileData < kProfileSizeReported) {
        *pcbProfileData = kProfileSizeReported;
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return E_FAIL;
    }
    std::memcpy(pvProfileData, kProfileName, sizeof kProfileName);
    *pcbProfileData = kProfileSizeReported;
    if (pflProfileData != nullptr) *pflProfileData = QCP_PROFILEDISK;
    return S_OK;
}

}  // namespace qz410
