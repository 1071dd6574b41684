// Runs the fuzz targets over saved inputs, without libFuzzer:
//
//     fuzz_replay TARGET PATH... [TARGET PATH...]...
//
// Each PATH (a file, or a folder whose files are taken in name order) is fed
// to the TARGET named before it. A folder without files is an error, so that
// a lost corpus does not pass unnoticed.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

int PictureLoaderFuzzOne(const uint8_t* data, size_t size);
int PictureHeaderFuzzOne(const uint8_t* data, size_t size);
int ColorSettingsFileFuzzOne(const uint8_t* data, size_t size);
int DevModeFuzzOne(const uint8_t* data, size_t size);
int FilterFuzzOne(const uint8_t* data, size_t size);
int CommandTemplateFuzzOne(const uint8_t* data, size_t size);
int PrinterNameFuzzOne(const uint8_t* data, size_t size);

namespace {

struct Target {
    std::string_view name;
    int (*run)(const uint8_t*, size_t);
};

constexpr Target kTargets[] = {
    {"PictureLoader", PictureLoaderFuzzOne},
    {"PictureHeader", PictureHeaderFuzzOne},
    {"ColorSettingsFile", ColorSettingsFileFuzzOne},
    {"DevMode", DevModeFuzzOne},
    {"Filter", FilterFuzzOne},
    {"CommandTemplate", CommandTemplateFuzzOne},
    {"PrinterName", PrinterNameFuzzOne},
};

const Target* Find(std::string_view name) {
    for (const Target& t : kTargets)
        if (t.name == name) return &t;
    return nullptr;
}

bool Replay(const Target& target, const std::filesystem::path& file) {
    std::ifstream stream(file, std::ios::binary);
    if (!stream) {
        std::fprintf(stderr, "cannot read %s\n", file.string().c_str());
        return false;
    }
    const std::vector<char> contents{std::istreambuf_iterator<char>(stream), std::istreambuf_iterator<char>()};
    // Exactly the file's size, as libFuzzer hands it over, so that the
    // sanitizers catch a read past the input.
    const size_t size = contents.size();
    std::unique_ptr<uint8_t[]> data(new uint8_t[size ? size : 1]);
    if (size != 0) std::memcpy(data.get(), contents.data(), size);
    // Named before it runs: a failing input stops the program.
    std::printf("%s %s\n", std::string(target.name).c_str(), file.string().c_str());
    std::fflush(stdout);
    target.run(data.get(), size);
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    const Target* target = nullptr;
    int inputs = 0;
    for (int i = 1; i < argc; ++i) {
        if (const Target* named = Find(argv[i])) {
            target = named;
            continue;
        }
        if (target == nullptr) {
            std::fprintf(stderr, "usage: %s TARGET PATH... [TARGET PATH...]...\ntargets:", argv[0]);
            for (const Target& t : kTargets) std::fprintf(stderr, " %s", std::string(t.name).c_str());
            std::fprintf(stderr, "\n");
            return 2;
        }
        const std::filesystem::path path(argv[i]);
        std::vector<std::filesystem::path> files;
        std::error_code error;
        if (std::filesystem::is_directory(path, error)) {
            for (const auto& entry : std::filesystem::directory_iterator(path, error))
                if (entry.is_regular_file()) files.push_back(entry.path());
            std::sort(files.begin(), files.end());
            if (files.empty()) {
                std::fprintf(stderr, "no inputs in %s\n", path.string().c_str());
                return 1;
            }
        } else {
            files.push_back(path);
        }
        for (const auto& file : files) {
            if (!Replay(*target, file)) return 1;
            ++inputs;
        }
    }
    if (inputs == 0) {
        std::fprintf(stderr, "nothing replayed\n");
        return 2;
    }
    std::printf("%d inputs replayed\n", inputs);
    return 0;
}
