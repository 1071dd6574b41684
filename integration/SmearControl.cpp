#include "integration/SmearControl.h"

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "plugin/UniqueResource.h"
#include "resources/resource.h"
#include "settings/PrivateDevMode.h"
#include "settings/RawBytes.h"

namespace qz410 {
namespace {

// The host reads the layouts it declares; on 32-bit x86 these are the sizes
// the driver's core UI was built with.
static_assert(sizeof(void*) != 4 || sizeof(OPTITEM) == 52);
static_assert(sizeof(void*) != 4 || sizeof(OPTTYPE) == 32);
static_assert(sizeof(void*) != 4 || sizeof(OPTPARAM) == 24);

// Asked for by the count request. Only the first item is used; the host
// shows the others as nothing.
constexpr DWORD kItemCount = 7;
constexpr WORD kChoiceCount = 3;
constexpr int kStringUnits = 260;
constexpr uint16_t kSmearControlDefault = 1;  // Picture, as a new device mode has it

// The entries' texts stay in the module; the host reads them while it holds
// the plug-in.
wchar_t kOff[] = L"Off";
wchar_t kPicture[] = L"Picture";
wchar_t kGraphics[] = L"Graphics";
PWSTR const kChoiceNames[kChoiceCount] = {kOff, kPicture, kGraphics};

constexpr size_t kSmearControlOffset = offsetof(PrivateDevMode, smearControl);

uint16_t ReadSmearControl(const void* oemDevMode) noexcept {
    return oemDevMode != nullptr ? Load<uint16_t>(oemDevMode, kSmearControlOffset) : kSmearControlDefault;
}

void FillSmearControlItem(OPTITEM& item, const OEMCUIPPARAM& param) noexcept {
    item.Level = 1;
    item.Flags = OPTIF_COLLAPSE;
    item.HelpIndex = 1;
    item.Sel = ReadSmearControl(param.pOEMDM);
    if (param.hOEMHeap == nullptr) return;
    item.pName = LoadHeapString(param.hOEMHeap, static_cast<HMODULE>(param.hModule), IDS_SMEAR_CONTROL);
    // Without a type the host shows the name alone and never changes Sel, so
    // the stored choice survives a host heap that has run dry.
    POPTTYPE type = NewComboOptionType(param.hOEMHeap, kChoiceCount);
    if (type == nullptr) return;
    type->Type = TVOT_COMBOBOX;
    for (WORD i = 0; i < kChoiceCount; ++i) type->pOptParam[i].pData = kChoiceNames[i];
    item.pOptType = type;
}

}  // namespace

HRESULT HandleCommonUIProp(DWORD dwMode, POEMCUIPPARAM pOemCUIPParam) noexcept {
    if (pOemCUIPParam == nullptr || (dwMode != OEMCUIP_DOCPROP && dwMode != OEMCUIP_PRNPROP)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return E_FAIL;
    }
    OEMCUIPPARAM& param = *pOemCUIPParam;
    if (param.pOEMOptItems == nullptr) {
        param.cOEMOptItems = dwMode == OEMCUIP_DOCPROP ? kItemCount : 0;
        return S_OK;
    }
    if (dwMode == OEMCUIP_PRNPROP) {
        param.OEMCUIPCallback = IgnoreOptionCallback;
        return S_OK;
    }
    // An empty array has no first item to fill, nor one for the callback.
    if (param.cOEMOptItems == 0) return S_OK;
    param.OEMCUIPCallback = SmearControlCallback;
    BlankOptionItems(param.pOEMOptItems, param.cOEMOptItems);
    FillSmearControlItem(param.pOEMOptItems[0], param);
    return S_OK;
}

LONG APIENTRY SmearControlCallback(PCPSUICBPARAM pCallbackParam, POEMCUIPPARAM pOemCUIPParam) noexcept {
    if (pCallbackParam == nullptr || pOemCUIPParam == nullptr || pOemCUIPParam->pOEMOptItems == nullptr ||
        pOemCUIPParam->cOEMOptItems == 0 || pOemCUIPParam->pOEMDM == nullptr) {
        return CPSUICB_ACTION_NONE;
    }
    OPTITEM& item = pOemCUIPParam->pOEMOptItems[0];
    void* oemDevMode = pOemCUIPParam->pOEMDM;
    switch (pCallbackParam->Reason) {
    case CPSUICB_REASON_APPLYNOW:
        Store<uint16_t>(oemDevMode, kSmearControlOffset, static_cast<uint16_t>(item.Sel));
        return CPSUICB_ACTION_NONE;
    case CPSUICB_REASON_SETACTIVE:
        item.Sel = ReadSmearControl(oemDevMode);
        item.Flags |= OPTIF_CHANGED;
        return CPSUICB_ACTION_OPTIF_CHANGED;
    default:
        return CPSUICB_ACTION_NONE;
    }
}

LONG APIENTRY IgnoreOptionCallback(PCPSUICBPARAM, POEMCUIPPARAM) noexcept { return CPSUICB_ACTION_NONE; }

void BlankOptionItems(POPTITEM items, DWORD count) noexcept {
    for (DWORD i = 0; i < count; ++i) {
        std::memset(&items[i], 0, sizeof items[i]);
        items[i].cbSize = sizeof(OPTITEM);
        items[i].DMPubID = DMPUB_NONE;
    }
}

POPTTYPE NewComboOptionType(HANDLE heap, WORD count) noexcept {
    UniqueHeapBlock type(HeapAlloc(heap, HEAP_ZERO_MEMORY, sizeof(OPTTYPE)), HeapBlockTraits{heap});
    if (!type) return nullptr;
    auto* params = static_cast<POPTPARAM>(HeapAlloc(heap, HEAP_ZERO_MEMORY, size_t{count} * sizeof(OPTPARAM)));
    if (params == nullptr) return nullptr;
    for (WORD i = 0; i < count; ++i) params[i].cbSize = sizeof(OPTPARAM);
    auto* result = static_cast<POPTTYPE>(type.Release());
    result->cbSize = sizeof(OPTTYPE);
    result->Count = count;
    result->pOptParam = params;
    return result;
}

PWSTR LoadHeapString(HANDLE heap, HMODULE module, UINT id) noexcept {
    UniqueHeapBlock block(HeapAlloc(heap, HEAP_ZERO_MEMORY, kStringUnits * sizeof(wchar_t)), HeapBlockTraits{heap});
    if (!block) return nullptr;
    const int length = LoadStringW(module, id, static_cast<PWSTR>(block.Get()), kStringUnits);
    if (length <= 0) return nullptr;
    // A failed shrink leaves the first block in place, text and all.
    if (void* fitted = HeapReAlloc(heap, HEAP_ZERO_MEMORY, block.Get(), (size_t(length) + 1) * sizeof(wchar_t))) {
        block.Release();
        return static_cast<PWSTR>(fitted);
    }
    return static_cast<PWSTR>(block.Release());
}

}  // namespace qz410
