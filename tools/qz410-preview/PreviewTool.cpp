#include "PreviewTool.h"

#include <array>
#include <charconv>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <ostream>
#include <string_view>
#include <system_error>

#include "imaging/PictureLoader.h"
#include "imaging/PreviewCorrection.h"
#include "settings/ColorSettings.h"
#include "settings/ColorSettingsFile.h"

namespace qz410::preview {
namespace {

namespace fs = std::filesystem;

constexpr std::string_view kProgram = "qz410-preview";

constexpr std::string_view kUsageText =
    "Usage: qz410-preview [OPTIONS] IN.bmp OUT.bmp\n"
    "\n"
    "Loads IN.bmp as the Color correction page's preview does (a picture with a\n"
    "side of 192 pixels or less whole, a larger one cut to its centre 192 x 192),\n"
    "applies the preview's corrections and writes the corrected picture, before\n"
    "it is stretched into the preview square, to OUT.bmp as a 24-bit BMP.\n"
    "\n"
    "Options (a value may also be given as --option=N):\n"
    "  --settings FILE.COL    start from the values of a saved settings file;\n"
    "                         values outside a slider's range are held at its end\n"
    "  --brightness N         -10..10\n"
    "  --contrast N           -10..10\n"
    "  --saturation N         -10..10\n"
    "  --cyan-red N           -10..10\n"
    "  --magenta-green N      -10..10\n"
    "  --yellow-blue N        -10..10\n"
    "  --sharpness N          0..7\n"
    "  --unsharp, --no-unsharp, --unsharp=0|1\n"
    "                         unsharp mask on or off\n"
    "  --amount N             unsharp mask amount 0..12 (25 x (N + 1) percent)\n"
    "  --radius N             unsharp mask radius 1..30 (tenths of a pixel)\n"
    "  --threshold N          unsharp mask threshold 0..20\n"
    "  -h, --help             show this help and exit\n"
    "\n"
    "Options override the settings file; anything not given keeps the driver's\n"
    "defaults (all 0, unsharp mask off, amount 5, radius 10, threshold 5).\n"
    "\n"
    "Exit status: 0 written; 1 a file could not be read or written, or IN.bmp is\n"
    "a picture the preview would replace by its built-in picture (OUT.bmp is then\n"
    "not written); 2 wrong usage.\n";

struct ValueOption {
    std::string_view name;
    SettingRange range;
    void (*store)(ColorSettings&, int);
};

const ValueOption kValueOptions[] = {
    {"brightness", kBalanceRange, [](ColorSettings& s, int v) { s.brightness = static_cast<int16_t>(v); }},
    {"contrast", kBalanceRange, [](ColorSettings& s, int v) { s.contrast = static_cast<int16_t>(v); }},
    {"saturation", kBalanceRange, [](ColorSettings& s, int v) { s.saturation = static_cast<int16_t>(v); }},
    {"cyan-red", kBalanceRange, [](ColorSettings& s, int v) { s.cyanRed = static_cast<int16_t>(v); }},
    {"magenta-green", kBalanceRange, [](ColorSettings& s, int v) { s.magentaGreen = static_cast<int16_t>(v); }},
    {"yellow-blue", kBalanceRange, [](ColorSettings& s, int v) { s.yellowBlue = static_cast<int16_t>(v); }},
    {"sharpness", kSharpnessRange, [](ColorSettings& s, int v) { s.sharpness = static_cast<uint16_t>(v); }},
    {"amount", kUnsharpAmountRange, [](ColorSettings& s, int v) { s.unsharpAmount = static_cast<int16_t>(v); }},
    {"radius", kUnsharpRadiusRange, [](ColorSettings& s, int v) { s.unsharpRadius = static_cast<int16_t>(v); }},
    {"threshold", kUnsharpThresholdRange,
     [](ColorSettings& s, int v) { s.unsharpThreshold = static_cast<int16_t>(v); }},
};

ColorSettings DriverDefaults() {
    ColorSettings s{};
    s.unsharpAmount = 5;
    s.unsharpRadius = 10;
    s.unsharpThreshold = 5;
    return s;
}

struct Invocation {
    std::optional<std::string> settingsFile;
    // Applied in command-line order over the file's values.
    std::vector<std::pair<const ValueOption*, int>> values;
    std::optional<int> unsharp;
    std::vector<std::string> files;
    bool help = false;
};

// Thrown for wrong usage, with the message for the user.
struct UsageError {
    std::string message;
};

std::optional<int> ParseInteger(std::string_view text) {
    int value = 0;
    const char* first = text.data();
    const char* last = text.data() + text.size();
    if (first != last && *first == '+') ++first;  // from_chars takes no plus sign
    const auto [end, error] = std::from_chars(first, last, value);
    if (error != std::errc() || end != last || first == last) return std::nullopt;
    return value;
}

Invocation ParseArguments(const std::vector<std::string>& args) {
    Invocation inv;
    bool optionsEnded = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string_view arg = args[i];
        if (optionsEnded || arg.size() < 2 || arg[0] != '-') {
            inv.files.emplace_back(arg);
            continue;
        }
        if (arg == "--") {
            optionsEnded = true;
            continue;
        }
        if (arg == "-h" || arg == "--help") {
            inv.help = true;
            continue;
        }
        if (arg.substr(0, 2) != "--") throw UsageError{"unknown option '" + std::string(arg) + "'"};

        std::string_view name = arg.substr(2);
        std::optional<std::string_view> inlineValue;
        if (const size_t eq = name.find('='); eq != std::string_view::npos) {
            inlineValue = name.substr(eq + 1);
            name = name.substr(0, eq);
        }
        auto takeValue = [&]() -> std::string {
            if (inlineValue) return std::string(*inlineValue);
            if (i + 1 >= args.size()) throw UsageError{"option '--" + std::string(name) + "' needs a value"};
            return args[++i];
        };

        if (name == "unsharp") {
            if (!inlineValue) {
                inv.unsharp = 1;
            } else if (*inlineValue == "0" || *inlineValue == "1") {
                inv.unsharp = *inlineValue == "1" ? 1 : 0;
            } else {
                throw UsageError{"--unsharp takes 0 or 1 (got '" + std::string(*inlineValue) + "')"};
            }
            continue;
        }
        if (name == "no-unsharp" && !inlineValue) {
            inv.unsharp = 0;
            continue;
        }
        if (name == "settings") {
            inv.settingsFile = takeValue();
            continue;
        }
        const ValueOption* option = nullptr;
        for (const ValueOption& candidate : kValueOptions) {
            if (candidate.name == name) option = &candidate;
        }
        if (option == nullptr) throw UsageError{"unknown option '--" + std::string(name) + "'"};
        const std::string text = takeValue();
        const std::optional<int> value = ParseInteger(text);
        if (!value || *value < option->range.minimum || *value > option->range.maximum) {
            throw UsageError{"--" + std::string(name) + " must be a whole number from " +
                             std::to_string(option->range.minimum) + " to " +
                             std::to_string(option->range.maximum) + " (got '" + text + "')"};
        }
        inv.values.emplace_back(option, *value);
    }
    if (!inv.help && inv.files.size() != 2) {
        throw UsageError{inv.files.size() < 2 ? "missing IN.bmp or OUT.bmp" : "too many arguments"};
    }
    return inv;
}

// Arguments are UTF-8 on Windows (see main) and the system's bytes elsewhere.
fs::path PathOf(const std::string& argument) {
#ifdef _WIN32
    return fs::path(std::u8string(argument.begin(), argument.end()));
#else
    return fs::path(argument);
#endif
}

// The picture file, read front to back; passing over bytes moves the file
// position forward instead of reading them.
class FileSource final : public ByteSource {
public:
    explicit FileSource(std::ifstream& stream) : stream_(stream) {}

    size_t Read(void* destination, size_t count) noexcept override {
        if (!stream_) return 0;
        stream_.read(static_cast<char*>(destination), static_cast<std::streamsize>(count));
        return static_cast<size_t>(stream_.gcount());
    }

    uint64_t Skip(uint64_t count) noexcept override {
        if (!stream_) return 0;
        stream_.seekg(static_cast<std::streamoff>(count), std::ios::cur);
        return stream_ ? count : 0;
    }

private:
    std::ifstream& stream_;
};

class Failure {
public:
    std::string message;
};

template <typename T>
void Put(std::vector<uint8_t>& bytes, size_t at, T value) {
    std::memcpy(bytes.data() + at, &value, sizeof value);
}

// A plain 24-bit BMP of the working picture: a fresh BITMAPINFOHEADER with the
// picture's size (a top-down picture stays top-down) and resolution, then its
// rows as they are in memory.
std::vector<uint8_t> EncodeBmp(const LoadedPicture& picture) {
    const int64_t rows = picture.height < 0 ? -int64_t{picture.height} : int64_t{picture.height};
    const size_t pixelBytes = static_cast<size_t>(int64_t{picture.stride} * rows);
    const size_t offBits = kBitmapFileHeaderSize + kBitmapInfoHeaderSize;
    std::vector<uint8_t> bytes(offBits + pixelBytes, 0);
    bytes[0] = 'B';
    bytes[1] = 'M';
    Put<uint32_t>(bytes, 2, static_cast<uint32_t>(bytes.size()));
    Put<uint32_t>(bytes, 10, static_cast<uint32_t>(offBits));
    Put<uint32_t>(bytes, 14, static_cast<uint32_t>(kBitmapInfoHeaderSize));
    Put<int32_t>(bytes, 18, picture.width);
    Put<int32_t>(bytes, 22, picture.height);
    Put<uint16_t>(bytes, 26, 1);
    Put<uint16_t>(bytes, 28, 24);
    Put<uint32_t>(bytes, 34, static_cast<uint32_t>(pixelBytes));
    std::memcpy(bytes.data() + 38, picture.infoBlock.data() + 24, 8);  // biXPelsPerMeter, biYPelsPerMeter
    std::memcpy(bytes.data() + offBits, picture.pixels, pixelBytes);
    return bytes;
}

ColorSettings ReadSettingsFile(const std::string& name) {
    const fs::path path = PathOf(name);
    std::error_code ec;
    if (fs::is_directory(path, ec)) throw Failure{"'" + name + "' is a directory"};
    std::ifstream file(path, std::ios::binary);
    if (!file) throw Failure{"cannot open settings file '" + name + "'"};
    std::array<uint8_t, kColorSettingsFileSize> bytes{};
    file.read(reinterpret_cast<char*>(bytes.data()), bytes.size());
    const auto got = static_cast<size_t>(file.gcount());
    const std::optional<ColorSettings> settings = ParseColorSettingsFile(std::span(bytes).first(got));
    if (!settings) throw Failure{"'" + name + "': This is not a color correction data file."};
    return HoldInSliderRanges(*settings);
}

void WriteAtomically(const std::string& name, const std::vector<uint8_t>& bytes) {
    const fs::path path = PathOf(name);
    fs::path temporary = path;
    temporary += ".partial";
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        if (!out) throw Failure{"cannot create '" + name + "'"};
        out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        out.close();
        if (!out) {
            std::error_code ignored;
            fs::remove(temporary, ignored);
            throw Failure{"cannot write '" + name + "'"};
        }
    }
    std::error_code ec;
    fs::rename(temporary, path, ec);
    if (ec) {
        std::error_code ignored;
        fs::remove(temporary, ignored);
        throw Failure{"cannot write '" + name + "': " + ec.message()};
    }
}

void Run(const Invocation& inv) {
    ColorSettings settings = inv.settingsFile ? ReadSettingsFile(*inv.settingsFile) : DriverDefaults();
    for (const auto& [option, value] : inv.values) option->store(settings, value);
    if (inv.unsharp) settings.unsharpEnabled = *inv.unsharp;

    const std::string& inName = inv.files[0];
    const fs::path inPath = PathOf(inName);
    std::error_code ec;
    if (fs::is_directory(inPath, ec)) throw Failure{"'" + inName + "' is a directory"};
    std::ifstream in(inPath, std::ios::binary);
    if (!in) throw Failure{"cannot open '" + inName + "'"};
    FileSource source(in);
    HeapPictureAllocator allocator;
    std::vector<uint8_t> cropBuffer(kPreviewCropBufferSize);
    LoadedPicture picture = LoadPreviewPicture(source, allocator, cropBuffer);
    in.close();
    if (!picture.Usable()) {
        throw Failure{"'" + inName + "' cannot be used as the preview picture: " +
                      DescribePictureProblem(picture.problem) +
                      " (the preview would show its built-in picture instead)"};
    }

    CorrectPreviewPicture(settings, picture.pixels, picture.width, picture.height, picture.stride);

    WriteAtomically(inv.files[1], EncodeBmp(picture));
}

}  // namespace

int RunPreviewTool(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    Invocation inv;
    try {
        inv = ParseArguments(args);
    } catch (const UsageError& e) {
        err << kProgram << ": " << e.message << "\nTry '" << kProgram << " --help'.\n";
        return kUsage;
    }
    if (inv.help) {
        out << kUsageText;
        return out ? kSuccess : kFailure;
    }
    try {
        Run(inv);
    } catch (const Failure& e) {
        err << kProgram << ": " << e.message << "\n";
        return kFailure;
    } catch (const std::bad_alloc&) {
        err << kProgram << ": out of memory\n";
        return kFailure;
    }
    return kSuccess;
}

}  // namespace qz410::preview
