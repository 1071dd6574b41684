// Which name a printer is opened by when the spooler initialises it. A name
// with a server part ("\\server\printer") is reduced to the printer part as
// the local spooler knows it; a local name is used as given.
#pragma once

#include <cstddef>

namespace qz410 {

// Room of the buffer a shortened name is built in, in UTF-16 units.
inline constexpr size_t kPrinterNameBufferUnits = 110;
// A shortened name keeps at most this many characters.
inline constexpr size_t kPrinterNameCut = 31;

// Returns `name` itself when it does not begin with two backslashes.
// Otherwise builds the shortened name in `buffer` (kPrinterNameBufferUnits
// units, zero-filled by the caller) and returns `buffer`: the text behind the
// first backslash after the server part (or, when there is none, the whole
// name), cut to kPrinterNameCut characters and then at its first comma.
// `name` must be zero-terminated.
const char16_t* WorkingPrinterName(const char16_t* name, char16_t* buffer) noexcept;

}  // namespace qz410
