#include "integration/PrinterName.h"

namespace qz410 {

const char16_t* WorkingPrinterName(const char16_t* name, char16_t* buffer) noexcept {
    if (name[0] != u'\\' || name[1] != u'\\') return name;

    const char16_t* candidate = name;
    for (const char16_t* p = name + 2; *p != 0; ++p) {
        if (*p == u'\\') {
            candidate = p + 1;
            break;
        }
    }
    size_t length = 0;
    while (length < kPrinterNameCut && candidate[length] != 0) {
        buffer[length] = candidate[length];
        ++length;
    }
    buffer[length] = 0;
    // The spooler's "printer,driver,port" form: only the printer part.
    for (size_t i = 0; i < length; ++i) {
        if (buffer[i] == u',') {
            buffer[i] = 0;
            break;
        }
    }
    return buffer;
}

}  // namespace qz410
