#include "versionpage/CommandTemplate.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace qz410 {
namespace {

// The buffer of exactly `capacity` units, holding `text` and its terminator,
// so that the sanitizers see a write past it.
std::vector<char16_t> Buffer(const std::u16string& text, size_t capacity) {
    std::vector<char16_t> buffer(capacity, u'#');
    std::copy_n(text.begin(), std::min(text.size(), capacity), buffer.begin());
    if (text.size() < capacity) buffer[text.size()] = 0;
    return buffer;
}

struct CommandCase {
    const char* what;
    std::u16string commandTemplate;
    std::u16string expected;
};

TEST(CommandTemplateTest, CutsAtThePlaceholderAndAppendsTheTarget) {
    const std::u16string target = u"mailto:help@brantwell.example";
    const CommandCase cases[] = {
        {"quoted placeholder after a blank: two blanks before the target",
         u"\"C:\\Browser\\b.exe\" -nohome \"%1\"", u"\"C:\\Browser\\b.exe\" -nohome  " + target},
        {"bare placeholder: the options after it go too", u"C:\\b.exe %1 -new -x",
         u"C:\\b.exe  " + target},
        {"no placeholder: the whole template", u"C:\\b.exe -url", u"C:\\b.exe -url " + target},
        {"a quoted placeholder wins over an earlier bare one", u"b.exe %1 -a \"%1\" -b",
         u"b.exe %1 -a  " + target},
        {"%1 right at the start", u"%1", u" " + target},
        {"an unclosed quote is not the quoted form", u"b.exe \"%1", u"b.exe \" " + target},
        {"%10 holds the placeholder %1", u"b.exe %10", u"b.exe  " + target},
        {"empty template", u"", u" " + target},
    };
    for (const CommandCase& c : cases) {
        auto buffer = Buffer(c.commandTemplate, 520);
        EXPECT_TRUE(MakeLinkCommandLine(buffer.data(), buffer.size(), target.c_str())) << c.what;
        EXPECT_EQ(std::u16string(buffer.data()), c.expected) << c.what;
    }
}

TEST(CommandTemplateTest, NeverWritesPastTheBufferAndRefusesACommandCutShort) {
    const std::u16string commandTemplate = u"b.exe \"%1\" -x";  // cut: "b.exe " (6 units)
    const std::u16string target = u"http://a";              // 8: the line is 15 units
    for (size_t capacity : {size_t{16}, size_t{15}, size_t{14}}) {
        auto buffer = Buffer(commandTemplate, capacity);
        const auto before = buffer;
        const bool fits = capacity >= 16;
        EXPECT_EQ(MakeLinkCommandLine(buffer.data(), buffer.size(), target.c_str()), fits) << capacity;
        if (fits) {
            EXPECT_EQ(std::u16string(buffer.data()), u"b.exe  http://a");
        } else {
            EXPECT_EQ(buffer, before) << capacity;
        }
    }
    // A template that fills its buffer without a terminator is not read past.
    auto unterminated = Buffer(u"b.exe %1", 8);
    EXPECT_FALSE(MakeLinkCommandLine(unterminated.data(), unterminated.size(), u"x"));
    EXPECT_FALSE(MakeLinkCommandLine<char16_t>(nullptr, 0, u"x"));
}

TEST(CommandTemplateTest, AppendsOnlyWhatFits) {
    struct AppendCase {
        std::u16string start, added;
        size_t capacity;
        bool fits;
    };
    const AppendCase cases[] = {
        {u"htmlfile", u"\\shell\\open\\command", 28, true},  // 27 units and the terminator
        {u"htmlfile", u"\\shell\\open\\command", 27, false},
        {u"", u"", 1, true},
        {u"abc", u"", 3, false},  // no terminator within the buffer
        {u"abc", u"d", 0, false},
    };
    for (const AppendCase& c : cases) {
        auto buffer = Buffer(c.start, c.capacity);
        const auto before = buffer;
        EXPECT_EQ(AppendBounded(buffer.data(), buffer.size(), c.added.c_str()), c.fits) << c.capacity;
        if (c.fits) {
            EXPECT_EQ(std::u16string(buffer.data()), c.start + c.added);
        } else {
            EXPECT_EQ(buffer, before);
        }
    }
    EXPECT_EQ(BoundedLength(u"abc", 2), 2u);
    EXPECT_EQ(BoundedLength(u"abc", 9), 3u);
}

}  // namespace
}  // namespace qz410
