// The input is a printer name as the spooler hands it over: UTF-16 units,
// little-endian, zero-terminated behind the input's last whole unit.
#include <memory>
#include <string>

#include "fuzz/FuzzTarget.h"
#include "integration/PrinterName.h"

namespace {

using namespace qz410;

// The rule told plainly with string operations.
std::u16string Expected(const std::u16string& name) {
    if (name.size() < 2 || name[0] != u'\\' || name[1] != u'\\') return name;
    const size_t third = name.find(u'\\', 2);
    std::u16string printer = third == std::u16string::npos ? name : name.substr(third + 1);
    printer = printer.substr(0, kPrinterNameCut);
    return printer.substr(0, printer.find(u','));
}

}  // namespace

QZ410_FUZZ_TARGET(PrinterName) {
    fuzz::InputReader input(data, size);
    const size_t units = size / 2;
    // Exactly the name and its terminator, so that the sanitizers catch a
    // read past it.
    std::unique_ptr<char16_t[]> name(new char16_t[units + 1]);
    std::u16string text;
    for (size_t i = 0; i < units; ++i) {
        const uint8_t low = input.Byte();
        name[i] = static_cast<char16_t>(low | input.Byte() << 8);
    }
    name[units] = 0;
    text.assign(name.get());  // up to the first zero, as the spooler's text ends there

    std::unique_ptr<char16_t[]> buffer(new char16_t[kPrinterNameBufferUnits]());
    const char16_t* opened = WorkingPrinterName(name.get(), buffer.get());
    QZ410_FUZZ_CHECK(std::u16string(opened) == Expected(text));
    QZ410_FUZZ_CHECK(opened == buffer.get() || opened == name.get());
    QZ410_FUZZ_CHECK((opened == name.get()) == (text.size() < 2 || text[0] != u'\\' || text[1] != u'\\'));
    for (size_t i = kPrinterNameCut + 1; i < kPrinterNameBufferUnits; ++i) QZ410_FUZZ_CHECK(buffer[i] == 0);
    return 0;
}
