#include "versionpage/CommandTemplate.h"

namespace qz410 {
namespace {

template <typename Unit>
size_t Length(const Unit* text) noexcept {
    size_t n = 0;
    while (text[n] != 0) ++n;
    return n;
}

// First position of `pattern` (`patternLength` units) in `text[0, length)`,
// or `length` when it does not occur.
template <typename Unit>
size_t Find(const Unit* text, size_t length, const Unit* pattern, size_t patternLength) noexcept {
    if (patternLength > length) return length;
    for (size_t at = 0; at + patternLength <= length; ++at) {
        size_t matched = 0;
        while (matched < patternLength && text[at + matched] == pattern[matched]) ++matched;
        if (matched == patternLength) return at;
    }
    return length;
}

template <typename Unit>
void Copy(Unit* to, const Unit* from, size_t count) noexcept {
    for (size_t i = 0; i < count; ++i) to[i] = from[i];
}

}  // namespace

template <typename Unit>
size_t BoundedLength(const Unit* text, size_t capacity) noexcept {
    size_t n = 0;
    while (n < capacity && text[n] != 0) ++n;
    return n;
}

template <typename Unit>
bool AppendBounded(Unit* buffer, size_t capacity, const Unit* text) noexcept {
    const size_t used = BoundedLength(buffer, capacity);
    if (used == capacity) return false;
    const size_t added = Length(text);
    if (added >= capacity - used) return false;
    Copy(buffer + used, text, added);
    buffer[used + added] = 0;
    return true;
}

template <typename Unit>
bool MakeLinkCommandLine(Unit* buffer, size_t capacity, const Unit* target) noexcept {
    const size_t length = BoundedLength(buffer, capacity);
    if (length == capacity) return false;

    static constexpr Unit kQuoted[] = {Unit('"'), Unit('%'), Unit('1'), Unit('"')};
    static constexpr Unit kBare[] = {Unit('%'), Unit('1')};
    size_t cut = Find(buffer, length, kQuoted, 4);
    if (cut == length) cut = Find(buffer, length, kBare, 2);

    const size_t targetLength = Length(target);
    // cut + blank + target + terminator, without overflowing the sum.
    if (targetLength >= capacity || cut + 1 >= capacity - targetLength) return false;
    buffer[cut] = Unit(' ');
    Copy(buffer + cut + 1, target, targetLength);
    buffer[cut + 1 + targetLength] = 0;
    return true;
}

#define QZ410_COMMAND_TEMPLATE_FOR(Unit)                                       \
    template size_t BoundedLength<Unit>(const Unit*, size_t) noexcept;         \
    template bool AppendBounded<Unit>(Unit*, size_t, const Unit*) noexcept;    \
    template bool MakeLinkCommandLine<Unit>(Unit*, size_t, const Unit*) noexcept;

QZ410_COMMAND_TEMPLATE_FOR(char16_t)
QZ410_COMMAND_TEMPLATE_FOR(wchar_t)

}  // namespace qz410
