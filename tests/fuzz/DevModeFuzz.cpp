// The input is one host request: its mode, which of its pointers are given,
// the 564-byte output block, the 220-byte public device mode and, with the
// rest, an input block of any length. The host's contract is kept: an input
// block holds at least its header and the bytes its dwSize claims.
#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

#include "fuzz/FuzzTarget.h"
#include "settings/PrivateDevMode.h"

namespace {

using namespace qz410;

constexpr size_t kPublicSize = 220;  // DEVMODEW without driver extra
constexpr size_t kSettings = offsetof(PrivateDevMode, settings);
constexpr size_t kPath = offsetof(PrivateDevMode, previewImagePath);

enum Flags : uint8_t {
    kNoInput = 1,
    kNoOutput = 2,
    kNoPublic = 4,
    kInputIsOutput = 8,
    kNoRequest = 16,
};

// Blocks of exactly their size, so that the sanitizers see any access past
// them.
struct Block {
    Block(const uint8_t* from, size_t n) : bytes(new uint8_t[n ? n : 1]), size(n) {
        if (n != 0) std::memcpy(bytes.get(), from, n);
    }
    uint8_t* data() { return bytes.get(); }
    std::vector<uint8_t> Copy() const { return {bytes.get(), bytes.get() + size}; }
    std::unique_ptr<uint8_t[]> bytes;
    size_t size;
};

template <typename T>
T Load(const uint8_t* block, size_t offset) {
    T value;
    std::memcpy(&value, block + offset, sizeof value);
    return value;
}

template <typename T>
T Field(const std::vector<uint8_t>& block, size_t offset) {
    return Load<T>(block.data(), offset);
}

bool SameRange(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b, size_t from, size_t to) {
    return std::equal(a.begin() + from, a.begin() + to, b.begin() + from);
}

void CheckOwnHeader(const std::vector<uint8_t>& out) {
    QZ410_FUZZ_CHECK(Field<uint32_t>(out, 0) == kPrivateDevModeSize);
    QZ410_FUZZ_CHECK(Field<uint32_t>(out, 4) == kPluginSignature);
    QZ410_FUZZ_CHECK(Field<uint32_t>(out, 8) == kPluginVersion);
}

bool Inside(int value, SettingRange range) { return value >= range.minimum && value <= range.maximum; }

void CheckInRange(const std::vector<uint8_t>& out) {
    ColorSettings s;
    std::memcpy(&s, out.data() + kSettings, sizeof s);
    for (int v : {s.brightness, s.contrast, s.saturation, s.cyanRed, s.magentaGreen, s.yellowBlue})
        QZ410_FUZZ_CHECK(Inside(v, kBalanceRange));
    QZ410_FUZZ_CHECK(Inside(s.sharpness, kSharpnessRange));
    QZ410_FUZZ_CHECK(Inside(s.unsharpAmount, kUnsharpAmountRange));
    QZ410_FUZZ_CHECK(Inside(s.unsharpRadius, kUnsharpRadiusRange));
    QZ410_FUZZ_CHECK(Inside(s.unsharpThreshold, kUnsharpThresholdRange));
}

// A merge repairs a field only when it is out of range, and then to its
// default.
void CheckRepairs(const std::vector<uint8_t>& converted, const std::vector<uint8_t>& merged) {
    struct Rule {
        size_t offset;
        bool isUnsigned;
        SettingRange range;
        int replacement;
    };
    const Rule rules[] = {
        {offsetof(ColorSettings, brightness), false, kBalanceRange, 0},
        {offsetof(ColorSettings, contrast), false, kBalanceRange, 0},
        {offsetof(ColorSettings, saturation), false, kBalanceRange, 0},
        {offsetof(ColorSettings, cyanRed), false, kBalanceRange, 0},
        {offsetof(ColorSettings, magentaGreen), false, kBalanceRange, 0},
        {offsetof(ColorSettings, yellowBlue), false, kBalanceRange, 0},
        {offsetof(ColorSettings, sharpness), true, kSharpnessRange, 0},
        {offsetof(ColorSettings, unsharpAmount), false, kUnsharpAmountRange, 5},
        {offsetof(ColorSettings, unsharpRadius), false, kUnsharpRadiusRange, 10},
        {offsetof(ColorSettings, unsharpThreshold), false, kUnsharpThresholdRange, 5},
    };
    for (const Rule& rule : rules) {
        const size_t at = kSettings + rule.offset;
        const int before = rule.isUnsigned ? int{Field<uint16_t>(converted, at)} : int{Field<int16_t>(converted, at)};
        const int after = rule.isUnsigned ? int{Field<uint16_t>(merged, at)} : int{Field<int16_t>(merged, at)};
        QZ410_FUZZ_CHECK(after == (Inside(before, rule.range) ? before : rule.replacement));
    }
    // Everything but the header and those fields: reserved1, unsharpEnabled,
    // reserved2, the path, smear control and the last reserved field.
    const size_t kept[][2] = {
        {kSettings + offsetof(ColorSettings, reserved1), kSettings + offsetof(ColorSettings, unsharpAmount)},
        {kSettings + offsetof(ColorSettings, reserved2), kPrivateDevModeSize},
    };
    for (const auto& range : kept) QZ410_FUZZ_CHECK(SameRange(converted, merged, range[0], range[1]));
}

// What a conversion must give, bounded by both blocks' sizes and by 564.
std::vector<uint8_t> Converted(const std::vector<uint8_t>& in, const std::vector<uint8_t>& out) {
    std::vector<uint8_t> expected = out;
    if (Field<uint32_t>(in, 4) == Field<uint32_t>(out, 4)) {
        const size_t n = std::min<size_t>({Field<uint32_t>(in, 0), Field<uint32_t>(out, 0), kPrivateDevModeSize});
        std::copy(in.begin(), in.begin() + n, expected.begin());
        const uint32_t size = kPrivateDevModeSize, version = kPluginVersion;
        std::memcpy(expected.data(), &size, 4);
        std::memcpy(expected.data() + 8, &version, 4);
    } else {
        const uint32_t header[3] = {kPrivateDevModeSize, kPluginSignature, kPluginVersion};
        std::memcpy(expected.data(), header, sizeof header);
        std::fill(expected.begin() + kSettings, expected.begin() + kPath, 0);
    }
    return expected;
}

}  // namespace

QZ410_FUZZ_TARGET(DevMode) {
    fuzz::InputReader input(data, size);
    const uint32_t mode = input.Byte() & 7;  // 0 and 5..7 are no request's
    const uint8_t flags = input.Byte();
    uint8_t raw[kPrivateDevModeSize + kPublicSize];
    input.Bytes(raw, sizeof raw);
    Block out(raw, kPrivateDevModeSize);
    Block pub(raw + kPrivateDevModeSize, kPublicSize);

    std::vector<uint8_t> inBytes(input.Rest(), input.Rest() + input.Remaining());
    if (inBytes.size() < sizeof(OemDmExtraHeader)) inBytes.resize(sizeof(OemDmExtraHeader), 0);
    if (Load<uint32_t>(inBytes.data(), 0) > inBytes.size()) {
        const auto claimed = static_cast<uint32_t>(inBytes.size());
        std::memcpy(inBytes.data(), &claimed, 4);
    }
    Block in(inBytes.data(), inBytes.size());

    const bool aliased = (flags & kInputIsOutput) != 0;
    DevModeRequest request{(flags & kNoPublic) ? nullptr : pub.data(),
                           (flags & kNoInput) ? nullptr : (aliased ? out.data() : in.data()),
                           (flags & kNoOutput) ? nullptr : out.data(), 0x5A5A5A5Au};
    const std::vector<uint8_t> outBefore = out.Copy();
    const std::vector<uint8_t> pubBefore = pub.Copy();
    const std::vector<uint8_t> inBefore = aliased ? outBefore : in.Copy();

    const DevModeStatus status = HandleDevModeRequest(mode, (flags & kNoRequest) ? nullptr : &request);

    const std::vector<uint8_t> outAfter = out.Copy();
    const std::vector<uint8_t> pubAfter = pub.Copy();
    if (!aliased) QZ410_FUZZ_CHECK(in.Copy() == inBefore);  // the input block is the host's, read only

    const bool known = mode >= kOemDmSize && mode <= kOemDmMerge;
    if ((flags & kNoRequest) || !known) {
        QZ410_FUZZ_CHECK(status == DevModeStatus::invalidParameter);
        QZ410_FUZZ_CHECK(outAfter == outBefore && pubAfter == pubBefore);
        QZ410_FUZZ_CHECK(request.bufSize == 0x5A5A5A5Au);
        return 0;
    }
    QZ410_FUZZ_CHECK(status == DevModeStatus::ok);
    QZ410_FUZZ_CHECK(request.bufSize == (mode == kOemDmSize ? kPrivateDevModeSize : 0x5A5A5A5Au));
    // Only the defaults ever write to the public device mode.
    if (mode != kOemDmDefault) QZ410_FUZZ_CHECK(pubAfter == pubBefore);

    const bool haveOut = request.oemOut != nullptr;
    const bool haveIn = request.oemIn != nullptr;
    switch (mode) {
    case kOemDmSize:
        QZ410_FUZZ_CHECK(outAfter == outBefore);
        break;

    case kOemDmDefault: {
        if (!haveOut) {
            QZ410_FUZZ_CHECK(outAfter == outBefore && pubAfter == pubBefore);
            break;
        }
        CheckOwnHeader(outAfter);
        QZ410_FUZZ_CHECK(Field<int32_t>(outAfter, kSettings + offsetof(ColorSettings, unsharpEnabled)) == 0);
        QZ410_FUZZ_CHECK(Field<int16_t>(outAfter, kSettings + offsetof(ColorSettings, unsharpAmount)) == 5);
        QZ410_FUZZ_CHECK(Field<int16_t>(outAfter, kSettings + offsetof(ColorSettings, unsharpRadius)) == 10);
        QZ410_FUZZ_CHECK(Field<int16_t>(outAfter, kSettings + offsetof(ColorSettings, unsharpThreshold)) == 5);
        QZ410_FUZZ_CHECK(Field<uint16_t>(outAfter, offsetof(PrivateDevMode, smearControl)) == 1);
        // The balance values, sharpness, reserved fields and the picture's
        // path keep whatever the host's buffer held.
        QZ410_FUZZ_CHECK(SameRange(outBefore, outAfter, kSettings, kSettings + offsetof(ColorSettings, unsharpEnabled)));
        QZ410_FUZZ_CHECK(SameRange(outBefore, outAfter, kSettings + offsetof(ColorSettings, reserved2),
                                   offsetof(PrivateDevMode, smearControl)));
        QZ410_FUZZ_CHECK(SameRange(outBefore, outAfter, offsetof(PrivateDevMode, reserved), kPrivateDevModeSize));

        if (request.publicDevMode == nullptr) break;
        QZ410_FUZZ_CHECK(Field<int16_t>(pubAfter, kDmOrientationOffset) == kDmOrientLandscape);
        const auto paper = Field<int16_t>(pubBefore, kDmPaperSizeOffset);
        const bool serverName = Field<char16_t>(pubBefore, kDmDeviceNameOffset) == u'\\';
        QZ410_FUZZ_CHECK(Field<int16_t>(pubAfter, kDmPaperSizeOffset) ==
                         (paper >= kDmPaperUser && !serverName ? kDmPaperA4 : paper));
        QZ410_FUZZ_CHECK(SameRange(pubBefore, pubAfter, 0, kDmOrientationOffset));
        QZ410_FUZZ_CHECK(SameRange(pubBefore, pubAfter, kDmPaperSizeOffset + 2, kPublicSize));
        break;
    }

    case kOemDmConvert:
    case kOemDmMerge: {
        if (!haveOut || !haveIn) {
            QZ410_FUZZ_CHECK(outAfter == outBefore);
            break;
        }
        const std::vector<uint8_t> converted = Converted(inBefore, outBefore);
        if (mode == kOemDmConvert) {
            QZ410_FUZZ_CHECK(outAfter == converted);
            // The output is the host's block of this plug-in; from one that
            // is, a conversion gives one that is.
            if (Field<uint32_t>(outBefore, 4) == kPluginSignature) CheckOwnHeader(outAfter);
            QZ410_FUZZ_CHECK(Field<uint32_t>(outAfter, 0) == kPrivateDevModeSize);
            QZ410_FUZZ_CHECK(Field<uint32_t>(outAfter, 8) == kPluginVersion);
        } else {
            CheckOwnHeader(outAfter);
            CheckInRange(outAfter);
            CheckRepairs(converted, outAfter);
        }
        break;
    }
    }
    return 0;
}
