// The private block's requests, on blocks allocated at exactly their stated
// size so that the sanitizer tree catches any access beyond them.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <vector>

#include "settings/PrivateDevMode.h"

namespace qz410 {
namespace {

constexpr size_t kPublicSize = 220;  // a DEVMODEW without driver extra

struct Block {
    explicit Block(size_t size, unsigned char fill = 0) : bytes(new unsigned char[size]), size(size) {
        std::memset(bytes.get(), fill, size);
    }
    PrivateDevMode Read() const {
        PrivateDevMode dm;
        std::memcpy(&dm, bytes.get(), sizeof dm);
        return dm;
    }
    void Write(const PrivateDevMode& dm) { std::memcpy(bytes.get(), &dm, sizeof dm); }
    std::unique_ptr<unsigned char[]> bytes;
    size_t size;
};

PrivateDevMode OwnBlock() {
    PrivateDevMode dm{};
    dm.header = {kPrivateDevModeSize, kPluginSignature, kPluginVersion};
    dm.settings = {3, -4, 5, -6, 7, -8, 2, 0x1111, 1, 9, 25, 17, 0x2222};
    std::memcpy(dm.previewImagePath, u"C:\\pictures\\kite.bmp", 42);
    dm.smearControl = 2;
    dm.reserved = 0x3333;
    return dm;
}

int16_t Orientation(const Block& pub) {
    int16_t v;
    std::memcpy(&v, pub.bytes.get() + kDmOrientationOffset, 2);
    return v;
}
int16_t Paper(const Block& pub) {
    int16_t v;
    std::memcpy(&v, pub.bytes.get() + kDmPaperSizeOffset, 2);
    return v;
}
void SetPaper(Block& pub, int16_t paper) { std::memcpy(pub.bytes.get() + kDmPaperSizeOffset, &paper, 2); }

TEST(DevModeRequest, SizeTouchesNothingButTheSize) {
    Block out(kPrivateDevModeSize, 0x5A);
    DevModeRequest request{nullptr, nullptr, out.bytes.get(), 7};
    EXPECT_EQ(HandleDevModeRequest(kOemDmSize, &request), DevModeStatus::ok);
    EXPECT_EQ(request.bufSize, 564u);
    for (size_t i = 0; i < out.size; ++i) ASSERT_EQ(out.bytes[i], 0x5A) << i;
}

TEST(DevModeRequest, UnknownModesAndNullRequestAreRejected) {
    DevModeRequest request{};
    EXPECT_EQ(HandleDevModeRequest(0, &request), DevModeStatus::invalidParameter);
    EXPECT_EQ(HandleDevModeRequest(5, &request), DevModeStatus::invalidParameter);
    EXPECT_EQ(HandleDevModeRequest(kOemDmSize, nullptr), DevModeStatus::invalidParameter);
}

TEST(DevModeRequest, DefaultsWriteOnlyTheirOwnBytes) {
    Block out(kPrivateDevModeSize, 0xCD);
    Block pub(kPublicSize, 0);
    DevModeRequest request{pub.bytes.get(), nullptr, out.bytes.get(), 0};
    ASSERT_EQ(HandleDevModeRequest(kOemDmDefault, &request), DevModeStatus::ok);
    const PrivateDevMode dm = out.Read();
    EXPECT_EQ(dm.header.dwSize, 564u);
    EXPECT_EQ(dm.header.dwSignature, kPluginSignature);
    EXPECT_EQ(dm.header.dwVersion, 1u);
    EXPECT_EQ(dm.settings.unsharpEnabled, 0);
    EXPECT_EQ(dm.settings.unsharpAmount, 5);
    EXPECT_EQ(dm.settings.unsharpRadius, 10);
    EXPECT_EQ(dm.settings.unsharpThreshold, 5);
    EXPECT_EQ(dm.smearControl, 1);
    // Balance, sharpness, reserved fields and the path keep the host's bytes.
    EXPECT_EQ(static_cast<uint16_t>(dm.settings.brightness), 0xCDCD);
    EXPECT_EQ(static_cast<uint16_t>(dm.settings.yellowBlue), 0xCDCD);
    EXPECT_EQ(dm.settings.sharpness, 0xCDCD);
    EXPECT_EQ(dm.settings.reserved1, 0xCDCD);
    EXPECT_EQ(dm.settings.reserved2, 0xCDCD);
    EXPECT_EQ(dm.previewImagePath[0], 0xCDCD);
    EXPECT_EQ(dm.previewImagePath[259], 0xCDCD);
    EXPECT_EQ(dm.reserved, 0xCDCD);
}

TEST(DevModeRequest, DefaultsTurnThePageAndReplaceCustomPaperUnlessTheNameIsAServerPath) {
    struct Case {
        int16_t paper;
        char16_t firstName;
        int16_t expected;
    } cases[] = {
        {256, u'Q', 9}, {300, u'Q', 9}, {255, u'Q', 255}, {1, u'Q', 1},
        {256, u'\\', 256}, {-32768, u'Q', -32768}, {-1, u'Q', -1}, {256, u'\0', 9},
    };
    for (const Case& c : cases) {
        Block out(kPrivateDevModeSize, 0);
        Block pub(kPublicSize, 0);
        std::memcpy(pub.bytes.get() + kDmDeviceNameOffset, &c.firstName, 2);
        SetPaper(pub, c.paper);
        DevModeRequest request{pub.bytes.get(), nullptr, out.bytes.get(), 0};
        ASSERT_EQ(HandleDevModeRequest(kOemDmDefault, &request), DevModeStatus::ok);
        EXPECT_EQ(Paper(pub), c.expected) << c.paper << " " << int(c.firstName);
        EXPECT_EQ(Orientation(pub), 2);
    }
}

TEST(DevModeRequest, DefaultsWithoutBlocksDoNotCrash) {
    Block pub(kPublicSize, 0);
    DevModeRequest noOut{pub.bytes.get(), nullptr, nullptr, 0};
    EXPECT_EQ(HandleDevModeRequest(kOemDmDefault, &noOut), DevModeStatus::ok);
    Block out(kPrivateDevModeSize, 0);
    DevModeRequest noPublic{nullptr, nullptr, out.bytes.get(), 0};
    EXPECT_EQ(HandleDevModeRequest(kOemDmDefault, &noPublic), DevModeStatus::ok);
    EXPECT_EQ(out.Read().settings.unsharpRadius, 10);
}

TEST(ConvertPrivateDevMode, ForeignInputGivesZeroSettingsAndKeepsTheRest) {
    PrivateDevMode foreign = OwnBlock();
    foreign.header.dwSignature = 0x12345678;
    Block in(sizeof foreign);
    in.Write(foreign);
    Block out(kPrivateDevModeSize);
    out.Write(OwnBlock());
    ASSERT_EQ(ConvertPrivateDevMode(in.bytes.get(), out.bytes.get()), 1);
    const PrivateDevMode dm = out.Read();
    const ColorSettings zero{};
    EXPECT_EQ(std::memcmp(&dm.settings, &zero, sizeof zero), 0);
    EXPECT_EQ(dm.header.dwSize, 564u);
    EXPECT_EQ(dm.header.dwSignature, kPluginSignature);
    EXPECT_EQ(dm.header.dwVersion, 1u);
    const PrivateDevMode before = OwnBlock();
    EXPECT_EQ(std::memcmp(dm.previewImagePath, before.previewImagePath, sizeof dm.previewImagePath), 0);
    EXPECT_EQ(dm.smearControl, 2);
    EXPECT_EQ(dm.reserved, 0x3333);
}

TEST(ConvertPrivateDevMode, OutputWithoutOurSignatureTakesNothingFromAValidInput) {
    Block in(kPrivateDevModeSize);
    in.Write(OwnBlock());
    Block out(kPrivateDevModeSize, 0);
    ASSERT_EQ(ConvertPrivateDevMode(in.bytes.get(), out.bytes.get()), 1);
    const PrivateDevMode dm = out.Read();
    EXPECT_EQ(dm.header.dwSignature, kPluginSignature);
    EXPECT_EQ(dm.settings.brightness, 0);
    EXPECT_EQ(dm.settings.unsharpRadius, 0);
    EXPECT_EQ(dm.previewImagePath[0], 0);
    EXPECT_EQ(dm.smearControl, 0);
}

TEST(ConvertPrivateDevMode, CopiesNoMoreThanTheShorterBlockAndNeverBeyond564Bytes) {
    // An older block of 40 bytes: header and settings only.
    PrivateDevMode older = OwnBlock();
    older.header = {40, kPluginSignature, 0};
    Block shortIn(40);
    std::memcpy(shortIn.bytes.get(), &older, 40);
    PrivateDevMode target{};
    target.header = {kPrivateDevModeSize, kPluginSignature, 7};
    std::memcpy(target.previewImagePath, u"kept", 10);
    target.smearControl = 2;
    Block out(kPrivateDevModeSize);
    out.Write(target);
    ASSERT_EQ(ConvertPrivateDevMode(shortIn.bytes.get(), out.bytes.get()), 1);
    PrivateDevMode dm = out.Read();
    EXPECT_EQ(dm.header.dwSize, 564u);
    EXPECT_EQ(dm.header.dwVersion, 1u);
    EXPECT_EQ(std::memcmp(&dm.settings, &older.settings, sizeof dm.settings), 0);
    EXPECT_EQ(dm.previewImagePath[0], u'k');
    EXPECT_EQ(dm.smearControl, 2);

    // A block that claims to be huge is cut at 564 bytes; the output claims
    // the same so the copy is bounded only by the fixed size.
    PrivateDevMode huge = OwnBlock();
    huge.header.dwSize = 0xFFFFFFFF;
    Block bigIn(kPrivateDevModeSize);
    bigIn.Write(huge);
    target.header.dwSize = 0xFFFFFFFF;
    out.Write(target);
    ASSERT_EQ(ConvertPrivateDevMode(bigIn.bytes.get(), out.bytes.get()), 1);
    dm = out.Read();
    EXPECT_EQ(dm.header.dwSize, 564u);
    EXPECT_EQ(dm.smearControl, 2);
    EXPECT_EQ(dm.reserved, 0x3333);
}

TEST(ConvertPrivateDevMode, NullBlocksWriteNothing) {
    Block out(kPrivateDevModeSize, 0x77);
    EXPECT_EQ(ConvertPrivateDevMode(nullptr, out.bytes.get()), 0);
    EXPECT_EQ(ConvertPrivateDevMode(out.bytes.get(), nullptr), 0);
    for (size_t i = 0; i < out.size; ++i) ASSERT_EQ(out.bytes[i], 0x77);
    DevModeRequest merge{nullptr, nullptr, out.bytes.get(), 0};
    EXPECT_EQ(HandleDevModeRequest(kOemDmMerge, &merge), DevModeStatus::ok);
    for (size_t i = 0; i < out.size; ++i) ASSERT_EQ(out.bytes[i], 0x77);
}

TEST(ValidatePrivateDevMode, RepairsEachFieldOutsideItsRangeAndKeepsTheRest) {
    struct Case {
        size_t offset;  // within ColorSettings
        int16_t value;
        int16_t expected;
    } cases[] = {
        {offsetof(ColorSettings, brightness), -11, 0},  {offsetof(ColorSettings, brightness), -10, -10},
        {offsetof(ColorSettings, contrast), 11, 0},     {offsetof(ColorSettings, saturation), 10, 10},
        {offsetof(ColorSettings, cyanRed), -32768, 0},  {offsetof(ColorSettings, magentaGreen), 100, 0},
        {offsetof(ColorSettings, yellowBlue), -1, -1},  {offsetof(ColorSettings, sharpness), -1, 0},
        {offsetof(ColorSettings, sharpness), 8, 0},     {offsetof(ColorSettings, sharpness), 7, 7},
        {offsetof(ColorSettings, unsharpAmount), -1, 5}, {offsetof(ColorSettings, unsharpAmount), 13, 5},
        {offsetof(ColorSettings, unsharpAmount), 0, 0},  {offsetof(ColorSettings, unsharpRadius), 0, 10},
        {offsetof(ColorSettings, unsharpRadius), 31, 10}, {offsetof(ColorSettings, unsharpRadius), 1, 1},
        {offsetof(ColorSettings, unsharpThreshold), 21, 5}, {offsetof(ColorSettings, unsharpThreshold), -1, 5},
        {offsetof(ColorSettings, unsharpThreshold), 20, 20},
    };
    for (const Case& c : cases) {
        PrivateDevMode dm = OwnBlock();
        dm.header = {1, 2, 3};
        dm.settings.unsharpEnabled = 7;
        std::memcpy(reinterpret_cast<unsigned char*>(&dm.settings) + c.offset, &c.value, 2);
        PrivateDevMode expected = dm;
        expected.header = {kPrivateDevModeSize, kPluginSignature, kPluginVersion};
        std::memcpy(reinterpret_cast<unsigned char*>(&expected.settings) + c.offset, &c.expected, 2);
        Block block(kPrivateDevModeSize);
        block.Write(dm);
        ASSERT_EQ(ValidatePrivateDevMode(block.bytes.get()), 1);
        const PrivateDevMode got = block.Read();
        EXPECT_EQ(std::memcmp(&got, &expected, sizeof got), 0) << "offset " << c.offset << " value " << c.value;
    }
    EXPECT_EQ(ValidatePrivateDevMode(nullptr), 0);
}

TEST(DevModeRequest, MergeFromAForeignBlockLeavesOnlyTheRadiusRepaired) {
    PrivateDevMode foreign = OwnBlock();
    foreign.header.dwSignature = 0;
    Block in(kPrivateDevModeSize);
    in.Write(foreign);
    Block out(kPrivateDevModeSize);
    out.Write(OwnBlock());
    DevModeRequest request{nullptr, in.bytes.get(), out.bytes.get(), 0};
    ASSERT_EQ(HandleDevModeRequest(kOemDmMerge, &request), DevModeStatus::ok);
    ColorSettings expected{};
    expected.unsharpRadius = 10;
    const PrivateDevMode dm = out.Read();
    EXPECT_EQ(std::memcmp(&dm.settings, &expected, sizeof expected), 0);
}

TEST(DevModeRequest, ConvertPassesOutOfRangeValuesThroughAndMergeRepairsThem) {
    PrivateDevMode source = OwnBlock();
    source.settings.brightness = 50;
    source.settings.unsharpRadius = -3;
    Block in(kPrivateDevModeSize);
    in.Write(source);
    for (uint32_t mode : {kOemDmConvert, kOemDmMerge}) {
        Block out(kPrivateDevModeSize);
        out.Write(OwnBlock());
        DevModeRequest request{nullptr, in.bytes.get(), out.bytes.get(), 0};
        ASSERT_EQ(HandleDevModeRequest(mode, &request), DevModeStatus::ok);
        const PrivateDevMode dm = out.Read();
        EXPECT_EQ(dm.settings.brightness, mode == kOemDmConvert ? 50 : 0);
        EXPECT_EQ(dm.settings.unsharpRadius, mode == kOemDmConvert ? -3 : 10);
        EXPECT_EQ(dm.settings.contrast, -4);
    }
}

TEST(ConvertPrivateDevMode, SameBlockAsInputAndOutputIsLeftIntact) {
    Block block(kPrivateDevModeSize);
    block.Write(OwnBlock());
    ASSERT_EQ(ConvertPrivateDevMode(block.bytes.get(), block.bytes.get()), 1);
    const PrivateDevMode dm = block.Read();
    const PrivateDevMode expected = OwnBlock();
    EXPECT_EQ(std::memcmp(&dm, &expected, sizeof dm), 0);
}

}  // namespace
}  // namespace qz410
