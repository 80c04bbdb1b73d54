// WAVStrech: keeps every fifth sample of each 4096-sample block of an 8000 Hz
// 16-bit WAV and writes the result as a 1600 Hz WAV.
#include <stdint.h>
#include <string.h>

#include "TolvaneWAVTimeStretch.h"
#include "platform/native_file.h"
#include "platform/native_path.h"
#include "platform/standard_output.h"
#include "stretch/stretch_block.h"
#include "wav/wav_header.h"

namespace tolvane {
namespace {

constexpr int32_t kBlockSamples = 4096;
constexpr uint32_t kOutputRate = 1600;
constexpr float kCountFactor = 0.2f;  // output samples per input sample
constexpr float kIndexFactor = 5.0f;  // input stride per output sample
// Samples kept from one full block: 0, 5, ..., 4090.
constexpr int32_t kKeptPerBlock = 819;
// Blocks read per system call. Large reads are most of the speed; the stack
// that holds them (about 64 KiB in all) must stay well under 96 KiB for hosts
// with small thread stacks.
constexpr int32_t kBlocksPerRead = 6;
constexpr size_t kReadBytes = kBlocksPerRead * kBlockSamples * sizeof(int16_t);

// The system's page size on every target we build for; only speed depends on
// it being right.
constexpr size_t kPageBytes = 4096;

constexpr const char kInputOpenFailed[] = "Failed to open input file.\n";
constexpr const char kOutputOpenFailed[] = "Failed to open output file.\n";
constexpr const char kReadFailed[] = "Failed to read input file.\n";
constexpr const char kWriteFailed[] = "Failed to write output file.\n";
constexpr const char kDone[] = "Time stretch effect applied and saved to output.wav\n";

int32_t Report(const char* line, int32_t result) {
    platform::PrintLine(line);
    return result;
}

// Samples kept from `n` samples of one block.
int32_t KeptFrom(int32_t n) {
    return static_cast<int32_t>(static_cast<float>(n) * kCountFactor);
}

// Samples that a run of `inputSamples` samples gives, block by block.
uint64_t KeptFromRun(uint64_t inputSamples) {
    return kKeptPerBlock * (inputSamples / kBlockSamples) +
           static_cast<uint64_t>(KeptFrom(static_cast<int32_t>(inputSamples % kBlockSamples)));
}

// The output's sample count as far as it can be told before copying: from the
// input's real size when it is a regular file, else from its header.
uint64_t ExpectedOutputSamples(const platform::InputFile& input, const unsigned char* header) {
    if (input.SizeKnown()) {
        const uint64_t size = input.Size();
        return size > kWavHeaderSize ? KeptFromRun((size - kWavHeaderSize) / kBytesPerSample) : 0;
    }
    const int32_t declared = ReadWavDataSize(header) / 2;
    return declared > 0 ? KeptFromRun(static_cast<uint64_t>(declared)) : 0;
}

}  // namespace
}  // namespace tolvane

extern "C" int32_t WAVStrech(const TolvanePathChar* inputPath, const TolvanePathChar* outputPath) {
    using namespace tolvane;
    // One name buffer serves both paths: the input's name is not needed once
    // it is open, and the output's is kept for removing an incomplete file.
    platform::NativePath name;

    platform::InputFile input;
    if (!platform::ToNativePath(inputPath, name) || !input.Open(name)) {
        return Report(kInputOpenFailed, RESULT_STRETCH_FAILED);
    }
    unsigned char header[kWavHeaderSize] = {};
    const ptrdiff_t headerRead = input.ReadFully(header, sizeof header);
    if (headerRead < 0) {
        return Report(kReadFailed, RESULT_STRETCH_FAILED);
    }

    platform::OutputFile output;
    if (!platform::ToNativePath(outputPath, name) ||
        output.Open(name, input) != platform::OutputFile::OpenResult::kOpened) {
        return Report(kOutputOpenFailed, RESULT_STRETCH_FAILED);
    }
    auto fail = [&output](const char* line) {
        output.Discard();
        return Report(line, RESULT_STRETCH_FAILED);
    };

    // Sizes in the header are 32-bit; the count is stored modulo 2^32 like
    // any 32-bit writer would, which only matters past 4 GiB of output.
    const uint64_t expected = ExpectedOutputSamples(input, header);
    const WavHeader provisional = MakeWavHeader(kOutputRate, static_cast<uint32_t>(expected));

    // Output is staged and written in whole pages only: an existing output is
    // overwritten in place, and a write that covers whole pages never makes
    // the system read the old contents back first.
    int16_t in[kBlocksPerRead * kBlockSamples];
    int16_t staged[(kPageBytes + kWavHeaderSize) / 2 + kBlocksPerRead * kKeptPerBlock];
    memcpy(staged, provisional.bytes, kWavHeaderSize);
    size_t stagedSamples = kWavHeaderSize / 2;

    uint64_t written = 0;
    for (;;) {
        const ptrdiff_t got = input.ReadFully(in, kReadBytes);
        if (got < 0) {
            return fail(kReadFailed);
        }
        // Whole samples only: a final odd byte is never copied.
        const int32_t samples = static_cast<int32_t>(got / 2);
        for (int32_t start = 0; start < samples; start += kBlockSamples) {
            const int32_t n = samples - start < kBlockSamples ? samples - start : kBlockSamples;
            const int32_t m = KeptFrom(n);
            StretchBlock(in + start, n, staged + stagedSamples, m, kIndexFactor);
            stagedSamples += static_cast<size_t>(m);
            written += static_cast<uint64_t>(m);
        }
        const bool ended = static_cast<size_t>(got) < kReadBytes;
        const size_t stagedBytes = stagedSamples * 2;
        const size_t flushBytes = ended ? stagedBytes : stagedBytes / kPageBytes * kPageBytes;
        if (flushBytes > 0) {
            if (!output.Write(staged, flushBytes)) {
                return fail(kWriteFailed);
            }
            memmove(staged, staged + flushBytes / 2, stagedBytes - flushBytes);
            stagedSamples = (stagedBytes - flushBytes) / 2;
        }
        if (ended) {
            break;
        }
    }

    // The input may have been shorter or longer than announced (a pipe, a
    // lying header, a file still growing): then the header is made exact now.
    if (written != expected) {
        const WavHeader exact = MakeWavHeader(kOutputRate, static_cast<uint32_t>(written));
        if (!output.WriteAtStart(exact.bytes, kWavHeaderSize)) {
            return fail(kWriteFailed);
        }
    }
    if (!output.Close()) {
        return fail(kWriteFailed);
    }
    return Report(kDone, RESULT_OK);
}
