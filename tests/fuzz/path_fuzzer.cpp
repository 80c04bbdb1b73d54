// Any UTF-16 code units as a path: the conversion gives exactly the UTF-8 that
// a plain decoder gives, or fails where no such name exists; the converter and
// the recorder take the same names without reading past them, and fail where
// the name cannot be decoded.
#include <sys/stat.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>

#include "TolvaneWAVTimeStretch.h"
#include "fuzz_support.h"
#include "platform/native_path.h"

using namespace tolvane::fuzz;

namespace {

// UTF-8 of the units before the first zero; nothing for an empty name, an
// unpaired surrogate, or a name longer than the system takes.
std::optional<std::string> Decode(const std::u16string& units) {
    std::string out;
    for (std::size_t i = 0; i < units.size() && units[i] != 0; ++i) {
        char32_t c = units[i];
        if (c >= 0xDC00 && c <= 0xDFFF) return std::nullopt;
        if (c >= 0xD800 && c <= 0xDBFF) {
            if (i + 1 == units.size() || units[i + 1] < 0xDC00 || units[i + 1] > 0xDFFF) return std::nullopt;
            c = 0x10000 + ((c - 0xD800) << 10) + (units[++i] - 0xDC00);
        }
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else {
            const int tail = c < 0x800 ? 1 : c < 0x10000 ? 2 : 3;
            static const char32_t lead[] = {0, 0xC0, 0xE0, 0xF0};
            out += static_cast<char>(lead[tail] | (c >> (6 * tail)));
            for (int k = tail - 1; k >= 0; --k) out += static_cast<char>(0x80 | ((c >> (6 * k)) & 0x3F));
        }
    }
    if (out.empty() || out.size() >= tolvane::platform::kMaxNativePath) return std::nullopt;
    return out;
}

// A name of one entry in the current directory that creating a file can take.
bool Creatable(const std::string& name) { return name != "." && name != ".." && name.size() <= 255; }

bool WorkDirEmpty() { return std::filesystem::is_empty("."); }

void EmptyWorkDir() {
    for (const auto& entry : std::filesystem::directory_iterator(".")) std::filesystem::remove_all(entry.path());
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    Check(std::freopen("/dev/null", "w", stdout) != nullptr, "cannot silence standard output");
    const std::string& dir = ScratchDir();
    // The recorder's audio input: a device that does not exist, so that
    // opening it fails at once, whatever this machine has.
    static const char device[] = "pcm.!default { type hw card 31 }\n";
    WriteWhole(dir + "/asound.conf", reinterpret_cast<const std::uint8_t*>(device), sizeof device - 1);
    ::setenv("ALSA_CONFIG_PATH", (dir + "/asound.conf").c_str(), 1);
    // A small input to convert from, outside the directory the names land in.
    static const std::uint8_t input[64] = {'R', 'I', 'F', 'F'};
    WriteWhole(dir + "/in.wav", input, sizeof input);
    ::mkdir((dir + "/work").c_str(), 0755);
    Check(::chdir((dir + "/work").c_str()) == 0, "cannot enter the scratch directory");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::u16string units(size / 2, u'\0');
    for (std::size_t i = 0; i < units.size(); ++i) units[i] = static_cast<char16_t>(data[2 * i] | data[2 * i + 1] << 8);

    const std::optional<std::string> expected = Decode(units);
    tolvane::platform::NativePath native;
    const bool converted = tolvane::platform::ToNativePath(Terminated(units).get(), native);
    Check(converted == expected.has_value(), "conversion: success differs from the decoder's");
    Check(!converted || native.name == *expected, "conversion: not the decoder's UTF-8");

    // Only names within the scratch directory reach the file system.
    for (char16_t& unit : units) {
        if (unit == u'/') unit = u'_';
    }
    const std::optional<std::string> name = Decode(units);
    const auto path = Terminated(units);

    const int asOutput = WAVStrech(Ascii16("../in.wav").c_str(), path.get());
    const bool made = name && Creatable(*name);
    Check(asOutput == (made ? RESULT_OK : 1), "as output: wrong result");
    Check(made ? std::filesystem::exists(*name) : WorkDirEmpty(), "as output: wrong file made");
    EmptyWorkDir();

    Check(WAVStrech(path.get(), Ascii16("../out.wav").c_str()) == 1, "as input: a missing file converted");

    const int recording = SoundRecorderStart(path.get());
    if (recording == RESULT_OK) SoundRecorderStop();
    Check(recording != RESULT_OK || made, "recording: started under a name that cannot be made");
    Check(made || WorkDirEmpty(), "recording: a file made under a name that cannot be");
    EmptyWorkDir();
    return 0;
}
