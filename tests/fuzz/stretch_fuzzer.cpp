// Any bytes as the converter's input, read from a regular file and from a
// pipe (where the input's size is unknown until its end). Into a file the
// result is success, and the output is exactly what the tests' own model of
// the rule makes of the bytes, its header stating exactly the samples that
// follow. Into a pipe too, no header can be mended afterwards: the result is
// success with that same output when the input's header tells its size, and
// failure when it does not.
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
using tolvane::test::Bytes;

namespace {

// A pipe, with a name that opens an end anew, as a shell's <(...) hands one over.
struct Pipe {
    int ends[2] = {-1, -1};
    Pipe() { Check(::pipe2(ends, O_CLOEXEC) == 0, "cannot make a pipe"); }
    std::u16string Name(int end) const { return Ascii16("/proc/self/fd/" + std::to_string(ends[end])); }
};

int Stretch(const std::u16string& in, const std::u16string& out) {
    return WAVStrech(Terminated(in).get(), Terminated(out).get());
}

std::thread Feed(int fd, const std::uint8_t* data, std::size_t size) {
    return std::thread([=] {
        for (std::size_t done = 0; done < size;) {
            const ssize_t n = ::write(fd, data + done, size - done);
            if (n <= 0) break;  // the converter stopped reading
            done += static_cast<std::size_t>(n);
        }
        ::close(fd);
    });
}

std::thread Drain(int fd, Bytes& into) {
    return std::thread([fd, &into] {
        unsigned char chunk[65536];
        for (ssize_t n; (n = ::read(fd, chunk, sizeof chunk)) > 0;) into.insert(into.end(), chunk, chunk + n);
        ::close(fd);
    });
}

// The samples that the input's header promises the output: its data size
// (bytes 40 to 43, missing bytes zero) as a signed count, taken block by block.
std::size_t DeclaredOutput(const std::uint8_t* data, std::size_t size) {
    std::uint32_t field = 0;
    for (std::size_t i = 0; i < 4; ++i) field |= std::uint32_t{40 + i < size ? data[40 + i] : 0u} << (8 * i);
    const std::int32_t samples = static_cast<std::int32_t>(field) / 2;
    return samples <= 0 ? 0 : std::size_t{819} * std::size_t(samples / 4096) + std::size_t(samples % 4096 / 5);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // The converter's line for every call would be most of the run's work.
    Check(std::freopen("/dev/null", "w", stdout) != nullptr, "cannot silence standard output");
    ::signal(SIGPIPE, SIG_IGN);  // a feeder outlives a converter that stops reading
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string& dir = ScratchDir();
    const std::u16string out = Ascii16(dir + "/out.wav");
    const Bytes expected = tolvane::test::ExpectedStretchFile({data, data + size});

    WriteWhole(dir + "/in.wav", data, size);
    Check(Stretch(Ascii16(dir + "/in.wav"), out) == RESULT_OK, "from a file: failed");
    Check(ReadWhole(dir + "/out.wav") == expected, "from a file: not the model's output");

    const Pipe in;
    std::thread feeder = Feed(in.ends[1], data, size);
    const int fromPipe = Stretch(in.Name(0), out);
    ::close(in.ends[0]);
    feeder.join();
    Check(fromPipe == RESULT_OK, "from a pipe: failed");
    Check(ReadWhole(dir + "/out.wav") == expected, "from a pipe: not the model's output");

    const Pipe from, to;
    Bytes got;
    feeder = Feed(from.ends[1], data, size);
    std::thread drainer = Drain(to.ends[0], got);
    const int throughPipes = Stretch(from.Name(0), to.Name(1));
    ::close(from.ends[0]);
    ::close(to.ends[1]);
    feeder.join();
    drainer.join();
    const bool honest = DeclaredOutput(data, size) == tolvane::test::SamplesOf(expected).size();
    Check(throughPipes == (honest ? RESULT_OK : 1), "through pipes: a header that lies not refused");
    Check(!honest || got == expected, "through pipes: not the model's output");
    return 0;
}
