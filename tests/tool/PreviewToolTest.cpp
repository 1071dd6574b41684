// Runs the built qz410-preview (found in the working directory) on generated
// pictures and settings files and checks what it writes against the
// library's own filter chain applied to the expected working picture.

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#ifndef _WIN32
#include <sys/wait.h>
#include <unistd.h>
#else
#include <process.h>
#endif

#include "core/TestBitmaps.h"
#include "imaging/Sharpen.h"
#include "imaging/ToneTables.h"
#include "settings/ColorSettingsFile.h"

#define QZ410_WIDEN_(text) L##text
#define QZ410_WIDEN(text) QZ410_WIDEN_(text)

namespace qz410 {
namespace {

namespace fs = std::filesystem;
using test::BmpLayout;
using test::MakeBmp;
using test::PatternByte;
using test::Stride;

struct RunResult {
    int exitCode;
    std::string out;
    std::string err;
};

std::string ReadText(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

std::vector<uint8_t> ReadBytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

void WriteBytes(const fs::path& path, const std::vector<uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    ASSERT_TRUE(out.good()) << path;
}

class PreviewToolTest : public testing::Test {
protected:
    static void SetUpTestSuite() {
        const auto id =
#ifdef _WIN32
            _getpid();
#else
            getpid();
#endif
        dir_ = fs::temp_directory_path() / ("qz410-preview-test-" + std::to_string(id));
        fs::remove_all(dir_);
        fs::create_directories(dir_);
    }
    static void TearDownTestSuite() {
        std::error_code ignored;
        fs::remove_all(dir_, ignored);
    }

    static fs::path In(const std::string& name) { return dir_ / name; }

    // Every argument is quoted; stdout and stderr go to files in the test's
    // directory.
    static RunResult Run(const std::vector<std::u8string>& args) {
        const fs::path outFile = dir_ / "stdout.txt";
        const fs::path errFile = dir_ / "stderr.txt";
#ifdef _WIN32
        std::wstring command = L"\"" QZ410_WIDEN(QZ410_PREVIEW_TOOL) L"\"";
        auto quote = [](const std::wstring& s) { return L" \"" + s + L"\""; };
        for (const auto& a : args) command += quote(fs::path(a).wstring());
        command += L" >" + quote(outFile.wstring()).substr(1) + L" 2>" + quote(errFile.wstring()).substr(1);
        // cmd.exe drops the outermost quotes of the whole line.
        const int status = _wsystem((L"\"" + command + L"\"").c_str());
        const int exitCode = status;
#else
        auto quote = [](const std::string& s) {
            std::string q = " '";
            for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
            return q + "'";
        };
        std::string command = "./" QZ410_PREVIEW_TOOL;
        for (const auto& a : args) command += quote(std::string(a.begin(), a.end()));
        command += " >" + quote(outFile.string()) + " 2>" + quote(errFile.string());
        const int status = std::system(command.c_str());
        const int exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
#endif
        return {exitCode, ReadText(outFile), ReadText(errFile)};
    }

    static std::u8string Arg(const fs::path& p) { return p.u8string(); }
    static std::u8string Arg(const std::string& s) { return std::u8string(s.begin(), s.end()); }

    static fs::path dir_;
};

fs::path PreviewToolTest::dir_;

ColorSettings Defaults() {
    ColorSettings s{};
    s.unsharpAmount = 5;
    s.unsharpRadius = 10;
    s.unsharpThreshold = 5;
    return s;
}

// The working picture the preview must get from a pattern file: a window of
// file pixels at (x0, y0), row filler as in the file for whole pictures and
// the last two announced bytes zero.
std::vector<uint8_t> ExpectedPicture(const BmpLayout& layout, int64_t x0, int64_t y0, int32_t w, int64_t rows,
                                     bool whole) {
    if (whole) {
        std::vector<uint8_t> file = MakeBmp(layout);
        std::vector<uint8_t> pixels(file.begin() + 14 + layout.infoSize, file.end());
        pixels[pixels.size() - 1] = 0;
        pixels[pixels.size() - 2] = 0;
        return pixels;
    }
    std::vector<uint8_t> pixels(static_cast<size_t>(3 * w * rows));
    for (int64_t y = 0; y < rows; ++y) {
        for (int64_t x = 0; x < w; ++x) {
            for (int c = 0; c < 3; ++c) pixels[(y * w + x) * 3 + c] = PatternByte(x0 + x, y0 + y, c);
        }
    }
    return pixels;
}

void ApplyChain(const ColorSettings& settings, std::vector<uint8_t>& pixels, int32_t w, int32_t h) {
    ToneTables tables;
    BuildToneTables(settings, tables);
    if (settings.unsharpEnabled == 1) ApplyUnsharpMask(settings, w, h, pixels.data());
    SharpenImage(pixels.data(), w, h, static_cast<int32_t>(Stride(w)), tables, settings.sharpness & 7u);
}

template <typename T>
T Field(const std::vector<uint8_t>& bytes, size_t at) {
    T v;
    std::memcpy(&v, bytes.data() + at, sizeof v);
    return v;
}

// Header of the written file, then its pixels against `expected`.
void ExpectBmp(const fs::path& path, int32_t w, int32_t h, const std::vector<uint8_t>& expected) {
    const std::vector<uint8_t> out = ReadBytes(path);
    const int64_t rows = h < 0 ? -int64_t{h} : h;
    ASSERT_EQ(out.size(), 54 + Stride(w) * rows) << path;
    EXPECT_EQ(out[0], 'B');
    EXPECT_EQ(out[1], 'M');
    EXPECT_EQ(Field<uint32_t>(out, 2), out.size());
    EXPECT_EQ(Field<uint32_t>(out, 10), 54u);
    EXPECT_EQ(Field<uint32_t>(out, 14), 40u);
    EXPECT_EQ(Field<int32_t>(out, 18), w);
    EXPECT_EQ(Field<int32_t>(out, 22), h);
    EXPECT_EQ(Field<uint16_t>(out, 26), 1);
    EXPECT_EQ(Field<uint16_t>(out, 28), 24);
    EXPECT_EQ(Field<uint32_t>(out, 30), 0u);
    EXPECT_EQ(Field<int32_t>(out, 38), 2835);
    // Filler bytes are not part of the picture the filters see.
    const int64_t stride = Stride(w);
    int mismatches = 0;
    for (int64_t y = 0; y < rows; ++y) {
        for (int64_t b = 0; b < 3 * w; ++b) {
            const uint8_t got = out[54 + y * stride + b];
            const uint8_t want = expected[y * stride + b];
            if (got != want && ++mismatches <= 5) {
                ADD_FAILURE() << "row " << y << " byte " << b << ": " << int{got} << " != " << int{want};
            }
        }
    }
    EXPECT_EQ(mismatches, 0);
}

TEST_F(PreviewToolTest, WholePictureWithOptions) {
    const BmpLayout layout{.width = 100, .height = 60};
    WriteBytes(In("whole.bmp"), MakeBmp(layout));
    const RunResult r = Run({Arg(In("whole.bmp")), Arg(In("whole-out.bmp")), u8"--brightness", u8"3",
                             u8"--contrast=-4", u8"--saturation", u8"+5", u8"--cyan-red", u8"2",
                             u8"--magenta-green", u8"-1", u8"--yellow-blue", u8"10", u8"--sharpness", u8"5",
                             u8"--unsharp", u8"--amount", u8"7", u8"--radius", u8"15", u8"--threshold", u8"2"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.err, "");
    ColorSettings s = Defaults();
    s.brightness = 3;
    s.contrast = -4;
    s.saturation = 5;
    s.cyanRed = 2;
    s.magentaGreen = -1;
    s.yellowBlue = 10;
    s.sharpness = 5;
    s.unsharpEnabled = 1;
    s.unsharpAmount = 7;
    s.unsharpRadius = 15;
    s.unsharpThreshold = 2;
    std::vector<uint8_t> expected = ExpectedPicture(layout, 0, 0, 100, 60, true);
    ApplyChain(s, expected, 100, 60);
    ExpectBmp(In("whole-out.bmp"), 100, 60, expected);
    EXPECT_FALSE(fs::exists(In("whole-out.bmp.partial")));
}

TEST_F(PreviewToolTest, CentreCropWithSettingsFileAndOverride) {
    const BmpLayout layout{.width = 501, .height = 400};
    WriteBytes(In("large.bmp"), MakeBmp(layout));
    // The file's out-of-range values end at the sliders' ends; 2 is not "on".
    ColorSettings file{};
    file.brightness = 50;
    file.contrast = 2;
    file.saturation = -7;
    file.sharpness = 9;
    file.unsharpEnabled = 2;
    file.unsharpAmount = 3;
    file.unsharpRadius = 0;
    file.unsharpThreshold = 1;
    const auto bytes = SerializeColorSettingsFile(file);
    WriteBytes(In("clamp.col"), {bytes.begin(), bytes.end()});

    ColorSettings held = file;
    held.brightness = 10;
    held.sharpness = 7;
    held.unsharpEnabled = 0;
    held.unsharpRadius = 1;
    {
        const RunResult r = Run({u8"--settings", Arg(In("clamp.col")), Arg(In("large.bmp")), Arg(In("crop1.bmp"))});
        ASSERT_EQ(r.exitCode, 0) << r.err;
        std::vector<uint8_t> expected = ExpectedPicture(layout, 154, 104, 192, 192, false);
        ApplyChain(held, expected, 192, 192);
        ExpectBmp(In("crop1.bmp"), 192, 192, expected);
    }
    {
        // Options win over the file, wherever they stand.
        const RunResult r = Run({u8"--contrast", u8"-10", Arg(In("large.bmp")), u8"--settings=" + Arg(In("clamp.col")),
                                 u8"--unsharp=1", Arg(In("crop2.bmp")), u8"--radius", u8"30"});
        ASSERT_EQ(r.exitCode, 0) << r.err;
        ColorSettings s = held;
        s.contrast = -10;
        s.unsharpEnabled = 1;
        s.unsharpRadius = 30;
        std::vector<uint8_t> expected = ExpectedPicture(layout, 154, 104, 192, 192, false);
        ApplyChain(s, expected, 192, 192);
        ExpectBmp(In("crop2.bmp"), 192, 192, expected);
    }
}

TEST_F(PreviewToolTest, DefaultsLeaveThePictureAsLoadedAndTopDownStaysTopDown) {
    const BmpLayout square{.width = 192, .height = 192};
    WriteBytes(In("square.bmp"), MakeBmp(square));
    RunResult r = Run({Arg(In("square.bmp")), Arg(In("square-out.bmp"))});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    ExpectBmp(In("square-out.bmp"), 192, 192, ExpectedPicture(square, 0, 0, 192, 192, true));

    // Top-down pictures pass through the corrections untouched.
    const BmpLayout topDown{.width = 50, .height = -40};
    WriteBytes(In("topdown.bmp"), MakeBmp(topDown));
    r = Run({u8"--brightness", u8"10", u8"--sharpness", u8"7", Arg(In("topdown.bmp")), Arg(In("topdown-out.bmp"))});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    ExpectBmp(In("topdown-out.bmp"), 50, -40, ExpectedPicture(topDown, 0, 0, 50, 40, true));
}

TEST_F(PreviewToolTest, UnusablePicturesAndFilesFailWithoutOutput) {
    WriteBytes(In("8bit.bmp"), MakeBmp({.bitCount = 8}));
    WriteBytes(In("text.bmp"), {'h', 'e', 'l', 'l', 'o', '\n'});
    WriteBytes(In("bad.col"), std::vector<uint8_t>(31, 0));
    WriteBytes(In("ok.bmp"), MakeBmp({}));
    struct Case {
        std::vector<std::u8string> args;
        const char* message;
    };
    const std::vector<Case> cases = {
        {{Arg(In("8bit.bmp")), Arg(In("fail.bmp"))}, "not a 24-bit true color bitmap"},
        {{Arg(In("text.bmp")), Arg(In("fail.bmp"))}, "not a bitmap"},
        {{Arg(In("missing.bmp")), Arg(In("fail.bmp"))}, "cannot open"},
        {{u8"--settings", Arg(In("bad.col")), Arg(In("ok.bmp")), Arg(In("fail.bmp"))},
         "This is not a color correction data file."},
        {{u8"--settings", Arg(In("none.col")), Arg(In("ok.bmp")), Arg(In("fail.bmp"))}, "cannot open settings file"},
        {{Arg(In("ok.bmp")), Arg(In("no-such-dir") / "fail.bmp")}, "cannot create"},
    };
    for (const Case& c : cases) {
        const RunResult r = Run(c.args);
        EXPECT_EQ(r.exitCode, 1) << c.message;
        EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
        EXPECT_FALSE(fs::exists(In("fail.bmp")));
        EXPECT_FALSE(fs::exists(In("fail.bmp.partial")));
    }

    // A failed run leaves an earlier output alone; a good one replaces it.
    WriteBytes(In("kept.bmp"), {'o', 'l', 'd'});
    EXPECT_EQ(Run({Arg(In("8bit.bmp")), Arg(In("kept.bmp"))}).exitCode, 1);
    EXPECT_EQ(ReadText(In("kept.bmp")), "old");
    EXPECT_EQ(Run({Arg(In("ok.bmp")), Arg(In("kept.bmp"))}).exitCode, 0);
    EXPECT_EQ(ReadBytes(In("kept.bmp")).size(), 54u + 48u);
}

TEST_F(PreviewToolTest, UsageErrorsAndHelp) {
    struct Case {
        std::vector<std::u8string> args;
        const char* message;
    };
    const std::u8string in = Arg(In("ok.bmp"));
    const std::u8string out = Arg(In("usage.bmp"));
    const std::vector<Case> cases = {
        {{}, "missing IN.bmp or OUT.bmp"},
        {{in}, "missing IN.bmp or OUT.bmp"},
        {{in, out, out}, "too many arguments"},
        {{u8"--brightness", u8"11", in, out}, "--brightness must be a whole number from -10 to 10 (got '11')"},
        {{u8"--sharpness=-1", in, out}, "--sharpness must be a whole number from 0 to 7"},
        {{u8"--radius", u8"0", in, out}, "from 1 to 30"},
        {{u8"--amount", u8"5x", in, out}, "--amount must be a whole number from 0 to 12 (got '5x')"},
        {{u8"--threshold", u8"", in, out}, "--threshold must be"},
        {{in, out, u8"--contrast"}, "option '--contrast' needs a value"},
        {{u8"--unsharp=2", in, out}, "--unsharp takes 0 or 1"},
        {{u8"--gamma", u8"2", in, out}, "unknown option '--gamma'"},
        {{u8"-x", in, out}, "unknown option '-x'"},
    };
    for (const Case& c : cases) {
        const RunResult r = Run(c.args);
        EXPECT_EQ(r.exitCode, 2) << c.message;
        EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
        EXPECT_NE(r.err.find("--help"), std::string::npos) << r.err;
        EXPECT_FALSE(fs::exists(In("usage.bmp")));
    }
    const RunResult help = Run({u8"--help"});
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_NE(help.out.find("Usage: qz410-preview"), std::string::npos) << help.out;
    EXPECT_EQ(help.err, "");
}

TEST_F(PreviewToolTest, NonAsciiFileNames) {
    const fs::path in = dir_ / fs::path(u8"bild-\u00e4\u4e2d.bmp");
    const fs::path out = dir_ / fs::path(u8"aus-\u00f6.bmp");
    WriteBytes(in, MakeBmp({.width = 7, .height = 3}));
    const RunResult r = Run({in.u8string(), out.u8string()});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_TRUE(fs::exists(out));
}

}  // namespace
}  // namespace qz410
