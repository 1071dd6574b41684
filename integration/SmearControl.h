// The "Smear Control" choice (Off, Picture, Graphics) in the host's tree of
// document settings, kept in the private device mode's smearControl.
#pragma once

#include "plugin/HostContract.h"

namespace qz410 {

// CommonUIProp: the count request (no item array) and the fill request of
// the document tree (OEMCUIP_DOCPROP) and of the printer tree
// (OEMCUIP_PRNPROP), which gets no item.
HRESULT HandleCommonUIProp(DWORD dwMode, POEMCUIPPARAM pOemCUIPParam) noexcept;

// The callbacks installed in the host's record: the document tree's copies
// the choice between the first item and the device mode; the printer
// tree's does nothing.
LONG APIENTRY SmearControlCallback(PCPSUICBPARAM pCallbackParam, POEMCUIPPARAM pOemCUIPParam) noexcept;
LONG APIENTRY IgnoreOptionCallback(PCPSUICBPARAM pCallbackParam, POEMCUIPPARAM pOemCUIPParam) noexcept;

// Makes `count` items that the host shows as nothing.
void BlankOptionItems(POPTITEM items, DWORD count) noexcept;

// A zeroed OPTTYPE from `heap` with `count` zeroed OPTPARAMs behind
// pOptParam, sizes set; Type is the caller's. Null when either block cannot
// be had (nothing is left allocated then).
POPTTYPE NewComboOptionType(HANDLE heap, WORD count) noexcept;

// A copy of string resource `id` of `module` in a block of `heap` of exactly
// its size; null when there is no such string or no block.
PWSTR LoadHeapString(HANDLE heap, HMODULE module, UINT id) noexcept;

}  // namespace qz410
