// Writes the fuzz targets' first inputs into DIR/<target>/, built the way the
// test suites build theirs: whole and lying WAV files, the path spellings the
// unit tests try, the batch command lines the end-to-end tests run, and a
// recording growing second by second.
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "wav_bytes.h"

namespace {

using tolvane::test::Bytes;
namespace fs = std::filesystem;

fs::path root;

void Seed(const std::string& target, const std::string& name, const Bytes& bytes) {
    fs::create_directories(root / target);
    std::ofstream(root / target / name, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

Bytes Text(const std::string& text) { return {text.begin(), text.end()}; }

Bytes Utf16(const std::u16string& units) {
    Bytes out;
    for (char16_t unit : units) {
        out.push_back(static_cast<unsigned char>(unit & 0xFF));
        out.push_back(static_cast<unsigned char>(unit >> 8));
    }
    return out;
}

void ConverterSeeds() {
    using tolvane::test::Ramp;
    using tolvane::test::WavFile;
    // No samples, fewer than one kept, one block, across blocks, across reads.
    for (std::size_t samples : {0u, 4u, 10u, 4096u, 8192u + 7, 6u * 4096 + 11}) {
        Seed("stretch", "ramp-" + std::to_string(samples), WavFile(8000, Ramp(samples)));
    }
    // Headers that lie: a negative size, a size far too large, too small;
    // a file shorter than its header; a last odd byte.
    Bytes lying = tolvane::test::WavHeaderBytes(8000, 0xFFFFFFFE);
    const Bytes samples = WavFile(8000, Ramp(5000));
    lying.insert(lying.end(), samples.begin() + 44, samples.end());
    Seed("stretch", "negative-size", lying);
    Bytes huge = samples;
    huge[43] = 0x7F;
    Seed("stretch", "huge-size", huge);
    Bytes small = samples;
    small[41] = 0;
    Seed("stretch", "small-size", small);
    Seed("stretch", "short-header", Bytes(samples.begin(), samples.begin() + 30));
    Bytes odd = WavFile(8000, Ramp(11));
    odd.push_back(0x7F);
    Seed("stretch", "odd-byte", odd);
}

void PathSeeds() {
    Seed("path", "ascii", Utf16(u"out.wav"));
    Seed("path", "every-width", Utf16(u"a/\u00e9\u4e2d\U0001F3B5.wav"));
    Seed("path", "lone-high", Utf16(u"a\xD83C" u"b"));
    Seed("path", "lone-low", Utf16(u"\xDFB5" u"a"));
    Seed("path", "high-at-end", Utf16(u"a\xD83C"));
    Seed("path", "inner-zero", Utf16(std::u16string(u"in", 2) + u'\0' + u"side.wav"));
    Seed("path", "dots", Utf16(u".."));
    Seed("path", "long-name", Utf16(std::u16string(256, u'x')));
    Seed("path", "long-path", Utf16(std::u16string(1365, u'\u4e2d')));
}

// The list's lines, then each argument after a zero.
void CommandLineSeed(const std::string& name, const std::string& list, const std::vector<std::string>& argv) {
    std::string bytes = list;
    for (const std::string& arg : argv) bytes += '\0' + arg;
    Seed("command_line", name, Text(bytes));
}

void CommandLineSeeds() {
    CommandLineSeed("plain", "", {"-o", "out", "a.wav", "b.wav"});
    CommandLineSeed("list", "a.wav\r\nb.wav\n\nsame/a.wav\n", {"--files-from", "list", "-j2", "-o", "out/"});
    CommandLineSeed("long-options", "", {"--output-dir=same", "--jobs=4", "--files-from=list", "--", "-b.wav"});
    CommandLineSeed("clash", "", {"-o", "out", "a.wav", "out/sub/../a.wav", "out/c.wav", "."});
    CommandLineSeed("bad-number", "", {"-j", "0", "-o", "out", "a.wav"});
    CommandLineSeed("stdin", "", {"--files-from", "-", "-o", "out/sub", "b.wav"});
    CommandLineSeed("unknown", "", {"--jobs", "-o", "out", "-x"});
}

void RecordingMonitorSeeds() {
    // Header, then seconds of one value each with the header counting them,
    // then the file cut back and written again.
    const Bytes header = tolvane::test::WavHeaderBytes(8000, 0);
    Bytes steps;
    for (std::size_t i = 0; i < header.size(); i += 8) {
        steps.push_back(1);
        steps.push_back(static_cast<unsigned char>(i / 4));
        steps.push_back(0);
        steps.push_back(8);
        steps.insert(steps.end(), header.begin() + static_cast<std::ptrdiff_t>(i),
                     header.begin() + static_cast<std::ptrdiff_t>(std::min(i + 8, header.size())));
        steps.resize(steps.size() + (8 - std::min<std::size_t>(8, header.size() - i)));
    }
    const unsigned char values[][2] = {{0x00, 0x04}, {0xFF, 0x7F}, {0x00, 0x80}};
    for (std::uint32_t second = 1; second <= 3; ++second) {
        // 62 and a half runs of 256 bytes: one second and a little more.
        steps.insert(steps.end(), {0, 61, values[second - 1][0], values[second - 1][1]});
        steps.insert(steps.end(), {0, 1, values[second - 1][0], values[second - 1][1]});
        steps.insert(steps.end(), {3, static_cast<unsigned char>(second * 4), 0, 0});
    }
    Seed("recording_monitor", "growing", steps);
    steps.insert(steps.end(), {2, 0x64, 0x1F, 3, 12, 0, 0, 0, 200, 0x00, 0x80});
    Seed("recording_monitor", "cut-back", steps);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) return 2;
    root = argv[1];
    ConverterSeeds();
    PathSeeds();
    CommandLineSeeds();
    RecordingMonitorSeeds();
    return 0;
}
