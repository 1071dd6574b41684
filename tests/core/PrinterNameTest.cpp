// The name a printer is opened by at its initialisation, from the names the
// spooler hands over.
#include <gtest/gtest.h>

#include <string>

#include "integration/PrinterName.h"

namespace qz410 {
namespace {

struct NameCase {
    const char16_t* given;
    const char16_t* opened;
    bool shortened;  // built in the buffer rather than the given name itself
};

TEST(PrinterName, ServerPartCutAndComma) {
    const NameCase cases[] = {
        {u"Lab printer,extra", u"Lab printer,extra", false},
        {u"\\\\srv\\Lab printer,extra", u"Lab printer", true},
        {u"\\\\srv", u"\\\\srv", true},
        {u"\\\\srv\\", u"", true},
        {u"\\server-without-second-backslash\\Lab", u"\\server-without-second-backslash\\Lab", false},
        // Beyond the server part only the first backslash counts.
        {u"\\\\srv\\a\\b,c", u"a\\b", true},
        // 31 characters are kept before the comma is looked for.
        {u"\\\\srv\\0123456789012345678901234567890123456789", u"0123456789012345678901234567890", true},
        {u"\\\\srv\\012345678901234567890123456789,1", u"012345678901234567890123456789", true},
        {u"\\\\srv\\0123456789012345678901234567890,1", u"0123456789012345678901234567890", true},
        {u"\\\\0123456789012345678901234567890123", u"\\\\01234567890123456789012345678", true},
        {u"\\\\ab,cd", u"\\\\ab", true},
        // A local name is used at any length, commas and all.
        {u"0123456789012345678901234567890123456789,x", u"0123456789012345678901234567890123456789,x", false},
        {u"", u"", false},
        {u"\\", u"\\", false},
    };
    for (const NameCase& c : cases) {
        char16_t buffer[kPrinterNameBufferUnits] = {};
        const char16_t* opened = WorkingPrinterName(c.given, buffer);
        SCOPED_TRACE(std::string(c.given, c.given + std::char_traits<char16_t>::length(c.given)));
        EXPECT_EQ(std::u16string(opened), std::u16string(c.opened));
        EXPECT_EQ(opened, c.shortened ? buffer : c.given);
        for (size_t i = kPrinterNameCut + 1; i < kPrinterNameBufferUnits; ++i) ASSERT_EQ(buffer[i], 0) << i;
    }
}

}  // namespace
}  // namespace qz410
