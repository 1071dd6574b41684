#include "integration/PrinterInitialization.h"

#include <winspool.h>

#include <cstddef>
#include <cstdint>
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
// Room beyond the counted paper list. DeviceCapabilitiesW is told no room,
// and the list it fills may have grown since it was counted (a form added
// in between): this many more codes still land inside the room.
constexpr size_t kPaperHeadroom = 256;

void* Allocate(size_t bytes) noexcept { return HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, bytes); }

// The second code of the printer's paper list, or 0 when the list is shorter
// than two; -1 when the spooler cannot tell. The list is counted first, so
// that a long one gets room enough.
int SecondPaper(LPCWSTR printer, LPCWSTR port, const DEVMODEW* devMode) noexcept {
    const int count = DeviceCapabilitiesW(printer, port, DC_PAPERS, nullptr, devMode);
    if (count < 0) return -1;
    if (count < 2) return 0;
    const size_t room = size_t(count) + kPaperHeadroom;
    UniqueHeapBlock list(Allocate(room * sizeof(WORD)));
    if (!list) return -1;
    const auto* papers = static_cast<const WORD*>(list.Get());
    const int listed =
        DeviceCapabilitiesW(printer, port, DC_PAPERS, reinterpret_cast<LPWSTR>(list.Get()), devMode);
    // DeviceCapabilitiesW knows no room, so a list that outgrew even the
    // headroom has already been written past the block; its count is the
    // only sign. Nothing of such a list is trusted.
    if (listed < 0 || size_t(listed) > room) return -1;
    return listed < 2 ? 0 : papers[1];
}

// Whether a device mode can take what the initialisation writes and what the
// driver writes back: its public part reaches past dmICMMethod (an older,
// shorter one would have the write land in its private part, which is
// stored with it), and the whole, private part included, has the room of
// the driver's device mode and lies inside its `block`.
bool CanTake(const DEVMODEW* devMode, LONG driverSize, const void* block, size_t blockSize) noexcept {
    const auto begin = reinterpret_cast<uintptr_t>(block);
    const auto at = reinterpret_cast<uintptr_t>(devMode);
    if (at < begin || at - begin > blockSize) return false;
    const size_t room = blockSize - (at - begin);
    if (room < size_t{kDevModeMembersEnd}) return false;
    const size_t size = size_t{devMode->dmSize} + devMode->dmDriverExtra;
    return devMode->dmSize >= kDevModeMembersEnd && size >= size_t(driverSize) && size <= room;
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
    const DWORD recordRoom = recordSize;
    if (!GetPrinterW(printer.Get(), 2, static_cast<LPBYTE>(recordBlock.Get()), recordRoom, &recordSize)) {
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
    // record's own is used only when it can take that. The fetched one is
    // the driver's own answer, but it is checked the same way before
    // anything is written into it.
    DEVMODEW* target = record->pDevMode;
    if (target == nullptr || !CanTake(target, devModeSize, record, recordRoom)) {
        if (!CanTake(fetchedDevMode, devModeSize, fetchedDevMode, size_t(devModeSize))) return E_NOTIMPL;
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
