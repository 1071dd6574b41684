// The host's device-mode requests on the plug-in's private block.
#pragma once

#include "plugin/HostContract.h"

namespace qz410 {

HRESULT HandleDevMode(DWORD dwMode, POEMDMPARAM pOemDMParam) noexcept;

}  // namespace qz410
