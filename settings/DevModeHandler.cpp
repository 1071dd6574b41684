#include "settings/DevModeHandler.h"

#include "settings/PrivateDevMode.h"

namespace qz410 {

static_assert(offsetof(DEVMODEW, dmDeviceName) == kDmDeviceNameOffset);
static_assert(offsetof(DEVMODEW, dmOrientation) == kDmOrientationOffset);
static_assert(offsetof(DEVMODEW, dmPaperSize) == kDmPaperSizeOffset);
static_assert(sizeof(OEM_DMEXTRAHEADER) == sizeof(OemDmExtraHeader));
static_assert(sizeof(wchar_t) == sizeof(char16_t));

HRESULT HandleDevMode(DWORD dwMode, POEMDMPARAM pOemDMParam) noexcept {
    if (pOemDMParam == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return E_FAIL;
    }
    DevModeRequest request{pOemDMParam->pPublicDMIn, pOemDMParam->pOEMDMIn, pOemDMParam->pOEMDMOut,
                           pOemDMParam->cbBufSize};
    if (HandleDevModeRequest(dwMode, &request) != DevModeStatus::ok) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return E_FAIL;
    }
    if (dwMode == OEMDM_SIZE) pOemDMParam->cbBufSize = request.bufSize;
    return S_OK;
}

}  // namespace qz410
