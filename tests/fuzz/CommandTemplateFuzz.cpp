// The input is a buffer size (two bytes, up to 1,099 units) and then UTF-16
// units, little-endian: a registered open command up to the first zero unit,
// a link text up to the next. Both operations work on a buffer of exactly
// that size, so that the sanitizers see any write past it.
#include <algorithm>
#include <memory>
#include <string>

#include "fuzz/FuzzTarget.h"
#include "versionpage/CommandTemplate.h"

namespace {

using namespace qz410;

std::u16string Units(qz410::fuzz::InputReader& input) {
    std::u16string text;
    while (input.Remaining() >= 2) {
        const unsigned low = input.Byte();
        const char16_t unit = char16_t(low | (input.Byte() << 8));
        if (unit == 0) break;
        text.push_back(unit);
    }
    return text;
}

// `text` in a fresh buffer of `capacity` units, terminated when it fits and
// filled up with a marker that no rule writes.
std::unique_ptr<char16_t[]> Buffer(const std::u16string& text, size_t capacity) {
    std::unique_ptr<char16_t[]> buffer(new char16_t[capacity]);
    for (size_t i = 0; i < capacity; ++i) buffer[i] = i < text.size() ? text[i] : i == text.size() ? 0 : u'#';
    return buffer;
}

// `buffer` holds `text` and its terminator, and past them what `before`
// held: nothing is written after the terminator.
bool Holds(const char16_t* buffer, const std::u16string& text, const char16_t* before, size_t capacity) {
    for (size_t i = 0; i < capacity; ++i) {
        const char16_t want = i < text.size() ? text[i] : i == text.size() ? char16_t(0) : before[i];
        if (buffer[i] != want) return false;
    }
    return true;
}

}  // namespace

QZ410_FUZZ_TARGET(CommandTemplate) {
    qz410::fuzz::InputReader input(data, size);
    const unsigned low = input.Byte();
    const size_t capacity = (low | (input.Byte() << 8)) % 1100;
    const std::u16string commandTemplate = Units(input);
    const std::u16string target = Units(input);
    const bool terminated = commandTemplate.size() < capacity;

    // The command line as the rule reads: the quoted placeholder, else the
    // bare one, else nothing is cut; then a blank and the link.
    std::u16string expected = commandTemplate;
    size_t cut = expected.find(u"\"%1\"");
    if (cut == std::u16string::npos) cut = expected.find(u"%1");
    if (cut != std::u16string::npos) expected.erase(cut);
    expected += u' ';
    expected += target;

    const auto before = Buffer(commandTemplate, capacity);
    auto line = Buffer(commandTemplate, capacity);
    const bool made = MakeLinkCommandLine(line.get(), capacity, target.c_str());
    QZ410_FUZZ_CHECK(made == (terminated && expected.size() < capacity));
    QZ410_FUZZ_CHECK(made ? Holds(line.get(), expected, before.get(), capacity)
                          : std::equal(line.get(), line.get() + capacity, before.get()));

    auto joined = Buffer(commandTemplate, capacity);
    const bool appended = AppendBounded(joined.get(), capacity, target.c_str());
    QZ410_FUZZ_CHECK(appended == (terminated && commandTemplate.size() + target.size() < capacity));
    QZ410_FUZZ_CHECK(appended ? Holds(joined.get(), commandTemplate + target, before.get(), capacity)
                              : std::equal(joined.get(), joined.get() + capacity, before.get()));

    const size_t length = made ? expected.size() : terminated ? commandTemplate.size() : capacity;
    QZ410_FUZZ_CHECK(BoundedLength(line.get(), capacity) == length);
    return 0;
}
