// Any bytes as the converter's input, read once from a regular file and once
// from a pipe (where the input's size is unknown until its end): the result is
// success, and the output is exactly what the tests' own model of the rule
// makes of the bytes, its header stating exactly the samples that follow.
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cstdint>
#include <string>
#include <thread>

#include "TolvaneWAVTimeStretch.h"
#include "fuzz_support.h"
#include "wav_bytes.h"

using namespace tolvane::fuzz;

namespace {

void Convert(const std::string& in, const std::string& out, const tolvane::test::Bytes& expected, const char* how) {
    const int result = WAVStrech(Terminated(Ascii16(in)).get(), Terminated(Ascii16(out)).get());
    Check(result == RESULT_OK, how);
    Check(ReadWhole(out) == expected, how);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // The converter's line for every call would be most of the run's work.
    Check(std::freopen("/dev/null", "w", stdout) != nullptr, "cannot silence standard output");
    ::signal(SIGPIPE, SIG_IGN);  // the pipe's writer outlives a reader that stops early
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string& dir = ScratchDir();
    const tolvane::test::Bytes expected = tolvane::test::ExpectedStretchFile({data, data + size});

    WriteWhole(dir + "/in.wav", data, size);
    Convert(dir + "/in.wav", dir + "/out.wav", expected, "from a file: not the model's output");

    int ends[2];
    Check(::pipe2(ends, O_CLOEXEC) == 0, "cannot make a pipe");
    std::thread writer([&] {
        for (std::size_t done = 0; done < size;) {
            const ssize_t n = ::write(ends[1], data + done, size - done);
            if (n <= 0) break;
            done += static_cast<std::size_t>(n);
        }
        ::close(ends[1]);
    });
    // The read end under a name of its own, as a shell's <(...) hands it over.
    Convert("/proc/self/fd/" + std::to_string(ends[0]), dir + "/out.wav", expected,
            "from a pipe: not the model's output");
    ::close(ends[0]);
    writer.join();
    return 0;
}
