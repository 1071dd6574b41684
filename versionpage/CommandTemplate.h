// Text rules of the Version page's link opener that need no Windows header:
// bounded appends, and the command line made from the HTML program's
// registered open command. Templated on the code unit so that the DLL works
// on its wchar_t buffers (UTF-16 on Windows) and the tests and fuzzers on
// char16_t; both are instantiated in CommandTemplate.cpp.
#pragma once

#include <cstddef>

namespace qz410 {

// Length of the terminated text at `text`, looked for only within `capacity`
// units; `capacity` itself when no terminator lies within them.
template <typename Unit>
size_t BoundedLength(const Unit* text, size_t capacity) noexcept;

// Appends the terminated `text` to the terminated text in `buffer`, which
// holds `capacity` units. When the joined text and its terminator do not fit
// (or `buffer` holds no terminator within `capacity`) nothing is written and
// the answer is false.
template <typename Unit>
bool AppendBounded(Unit* buffer, size_t capacity, const Unit* text) noexcept;

// `buffer` holds a registered open command such as
// `"C:\Program Files\Browser\browser.exe" -nohome "%1"`. The command is cut
// at its first placeholder enclosed in double quotes (the opening quote
// goes too) or, when it has none, at its first bare %1; then a blank and
// `target` are appended. A template without placeholder is kept whole. When
// the result and its terminator do not fit in `capacity` units, `buffer` is
// left as it was and the answer is false: a command line cut short would
// open some other target.
template <typename Unit>
bool MakeLinkCommandLine(Unit* buffer, size_t capacity, const Unit* target) noexcept;

}  // namespace qz410
