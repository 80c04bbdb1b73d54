// SoundRecorderStart / SoundRecorderStop / SoundRecorderNextFile against the
// scripted audio input.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <mutex>
#include <ostream>
#include <string>
#include <thread>
#include <atomic>
#include <vector>

#include "TolvaneWAVTimeStretch.h"
#include "expected_recording.h"
#include "files.h"
#include "recorder/recorder_state.h"
#include "scripted_wave_in.h"
#include "utf16.h"
#include "wav/wav_header.h"

// The system's syncs as the recording-file layer calls them, failing with
// the errno set here (0: pass through to the kernel).
int directorySyncError = 0;
int dataSyncError = 0;

extern "C" int fsync(int fd) {
    struct stat info {};
    if (directorySyncError != 0 && ::fstat(fd, &info) == 0 && S_ISDIR(info.st_mode)) {
        errno = directorySyncError;
        return -1;
    }
    return static_cast<int>(::syscall(SYS_fsync, fd));
}

extern "C" int fdatasync(int fd) {
    if (dataSyncError != 0) {
        errno = dataSyncError;
        return -1;
    }
    return static_cast<int>(::syscall(SYS_fdatasync, fd));
}

namespace {

namespace fs = std::filesystem;
using tolvane::recorder::kBlockBytes;
using tolvane::recorder::theRecorder;
using Bytes = std::vector<unsigned char>;

using tolvane::test::ReadFile;

// A recording of `blocks` whole seconds as the scripted device delivers them,
// from block `first` on.
Bytes ExpectedRecording(std::uint32_t blocks, std::uint32_t first = 0) {
    return tolvane::test::ExpectedRecording(blocks, scripted::FillBlock, first);
}

class RecorderTest : public ::testing::Test {
protected:
    void SetUp() override {
        scripted::Reset();
    }

    void TearDown() override {
        SoundRecorderStop();
        EXPECT_FALSE(scripted::DeviceOpen()) << "the recorder left the device open";
        scripted::ForceClose();
        EXPECT_EQ(scripted::Snapshot().protocolErrors, 0) << "the recorder misused the device";
        theRecorder.blockLimit = tolvane::recorder::kMaxBlocks;
        directorySyncError = dataSyncError = 0;
    }

    fs::path File(const std::string& name) const { return fs::path(dir_.path()) / name; }

    static std::int32_t Start(const fs::path& path) { return SoundRecorderStart(tolvane::test::Utf16(path).c_str()); }
    // NextFile's result; the seconds it reports in `finished`.
    static std::int32_t Next(const fs::path& path, std::int32_t& finished) {
        finished = -1;
        return SoundRecorderNextFile(tolvane::test::Utf16(path).c_str(), &finished);
    }

private:
    tolvane::test::ScratchDir dir_;
};

TEST_F(RecorderTest, RecordingWithoutBlocksIsAnEmptyWav) {
    const fs::path out = File("empty.wav");
    ASSERT_EQ(Start(out), RESULT_OK);

    const scripted::Counters c = scripted::Snapshot();
    EXPECT_EQ(c.deviceId, WAVE_MAPPER);
    EXPECT_EQ(c.openFlags, CALLBACK_FUNCTION);
    EXPECT_EQ(c.format.wFormatTag, WAVE_FORMAT_PCM);
    EXPECT_EQ(c.format.nChannels, 1);
    EXPECT_EQ(c.format.nSamplesPerSec, 8000u);
    EXPECT_EQ(c.format.nAvgBytesPerSec, 16000u);
    EXPECT_EQ(c.format.nBlockAlign, 2);
    EXPECT_EQ(c.format.wBitsPerSample, 16);

    EXPECT_EQ(SoundRecorderStop(), 0);
    EXPECT_EQ(ReadFile(out), ExpectedRecording(0));
}

// The file must play at every moment, so a crash loses at most the second
// being captured.
TEST_F(RecorderTest, FileIsAValidWavAfterEveryBlock) {
    const fs::path out = File("three.wav");
    ASSERT_EQ(Start(out), RESULT_OK);
    EXPECT_EQ(ReadFile(out), ExpectedRecording(0));
    for (std::uint32_t n = 1; n <= 3; ++n) {
        ASSERT_TRUE(scripted::DeliverBlock());
        EXPECT_EQ(ReadFile(out), ExpectedRecording(n)) << "after block " << n;
    }
    EXPECT_EQ(SoundRecorderStop(), 3);
    EXPECT_EQ(ReadFile(out), ExpectedRecording(3));
}

TEST_F(RecorderTest, EachRecordingStartsFromAnEmptyHeader) {
    const fs::path first = File("first.wav");
    const fs::path second = File("second.wav");
    ASSERT_EQ(Start(first), RESULT_OK);
    ASSERT_TRUE(scripted::DeliverBlock());
    ASSERT_TRUE(scripted::DeliverBlock());
    ASSERT_EQ(SoundRecorderStop(), 2);

    ASSERT_EQ(Start(second), RESULT_OK);
    EXPECT_EQ(ReadFile(second), ExpectedRecording(0));
    ASSERT_TRUE(scripted::DeliverBlock());
    EXPECT_EQ(SoundRecorderStop(), 1);
    EXPECT_EQ(ReadFile(second), ExpectedRecording(1));
    EXPECT_EQ(ReadFile(first), ExpectedRecording(2));
}

struct DeviceFailure {
    scripted::Failures failures;
    std::int32_t result;
};

void PrintTo(const DeviceFailure& failure, std::ostream* out) { *out << "result " << failure.result; }

class RecorderDeviceFailureTest : public RecorderTest, public ::testing::WithParamInterface<DeviceFailure> {};

TEST_P(RecorderDeviceFailureTest, FailedStartReleasesEverything) {
    scripted::Reset(GetParam().failures);
    const fs::path out = File("failed.wav");
    EXPECT_EQ(Start(out), GetParam().result);
    EXPECT_FALSE(scripted::DeviceOpen());
    const scripted::Counters afterStart = scripted::Snapshot();
    EXPECT_EQ(afterStart.opens, afterStart.closes);
    EXPECT_EQ(ReadFile(out), ExpectedRecording(0));

    EXPECT_EQ(SoundRecorderStop(), 0);
    EXPECT_EQ(scripted::Snapshot().calls, afterStart.calls) << "Stop after a failed Start touched the device";
    EXPECT_EQ(ReadFile(out), ExpectedRecording(0));

    // The recorder is idle again: the next recording works.
    scripted::Reset();
    ASSERT_EQ(Start(out), RESULT_OK);
    ASSERT_TRUE(scripted::DeliverBlock());
    EXPECT_EQ(SoundRecorderStop(), 1);
}

INSTANTIATE_TEST_SUITE_P(
    Steps, RecorderDeviceFailureTest,
    ::testing::Values(DeviceFailure{{WAVERR_BADFORMAT, 0, 0}, RESULT_RECORDER_OPEN_FAILED},
                      DeviceFailure{{0, MMSYSERR_NOMEM, 0}, RESULT_RECORDER_QUEUE_FAILED},
                      DeviceFailure{{0, 0, MMSYSERR_ERROR}, RESULT_RECORDER_START_FAILED}),
    [](const auto& step) { return "Result" + std::to_string(step.param.result); });

TEST_F(RecorderTest, FileThatCannotBeCreatedOpensNoDevice) {
    EXPECT_EQ(Start(File("missing") / "x.wav"), RESULT_RECORDER_FILE_FAILED);
    EXPECT_EQ(SoundRecorderStart(nullptr), RESULT_RECORDER_FILE_FAILED);
    EXPECT_EQ(SoundRecorderStart(u""), RESULT_RECORDER_FILE_FAILED);
    // Created, but the placeholder cannot be written: a recording could
    // never be kept there.
    EXPECT_EQ(SoundRecorderStart(u"/dev/full"), RESULT_RECORDER_FILE_FAILED);
    EXPECT_FALSE(fs::exists(File("missing")));
    EXPECT_EQ(scripted::Snapshot().calls, 0);
    EXPECT_EQ(SoundRecorderStop(), 0);
    EXPECT_EQ(scripted::Snapshot().calls, 0);
}

TEST_F(RecorderTest, StartWhileRecordingIsRefusedAndLeavesTheRecordingAlone) {
    const fs::path out = File("running.wav");
    const fs::path other = File("other.wav");
    std::ofstream(other) << "keep me";
    ASSERT_EQ(Start(out), RESULT_OK);
    ASSERT_TRUE(scripted::DeliverBlock());

    EXPECT_EQ(Start(other), RESULT_RECORDER_OPEN_FAILED);
    EXPECT_EQ(scripted::Snapshot().openAttempts, 1);
    const Bytes keepMe{'k', 'e', 'e', 'p', ' ', 'm', 'e'};
    EXPECT_EQ(ReadFile(other), keepMe);

    ASSERT_TRUE(scripted::DeliverBlock());
    EXPECT_EQ(SoundRecorderStop(), 2);
    EXPECT_EQ(ReadFile(out), ExpectedRecording(2));
}

TEST_F(RecorderTest, StopWithoutRecordingTouchesNothing) {
    EXPECT_EQ(SoundRecorderStop(), 0);
    EXPECT_EQ(scripted::Snapshot().calls, 0);

    const fs::path out = File("done.wav");
    ASSERT_EQ(Start(out), RESULT_OK);
    ASSERT_TRUE(scripted::DeliverBlock());
    ASSERT_EQ(SoundRecorderStop(), 1);
    const int calls = scripted::Snapshot().calls;
    EXPECT_EQ(SoundRecorderStop(), 0);
    EXPECT_EQ(scripted::Snapshot().calls, calls);
    EXPECT_EQ(ReadFile(out), ExpectedRecording(1));
}

// Part-filled buffers come back when a device stops; whatever they hold is
// not a whole second. Messages other than WIM_DATA carry no data at all.
TEST_F(RecorderTest, OnlyWholeBlocksOfWimDataAreWritten) {
    const fs::path out = File("partial.wav");
    ASSERT_EQ(Start(out), RESULT_OK);
    ASSERT_TRUE(scripted::DeliverBlock());
    ASSERT_TRUE(scripted::DeliverPartial(kBlockBytes - 2));
    EXPECT_EQ(ReadFile(out), ExpectedRecording(1));
    for (const UINT message : {WIM_OPEN, WIM_CLOSE, WIM_DATA + 1}) {
        ASSERT_TRUE(scripted::Notify(message));
    }
    EXPECT_EQ(ReadFile(out), ExpectedRecording(1));

    // Capture went on: the buffer was queued again each time.
    ASSERT_TRUE(scripted::DeliverBlock());
    // Stop makes the device hand back a part-filled buffer as well.
    EXPECT_EQ(SoundRecorderStop(), 2);
    EXPECT_EQ(ReadFile(out), ExpectedRecording(2));
}

// Deliveries run on the device's thread while Stop finishes the file: the
// count returned, the header and the data must always agree.
TEST_F(RecorderTest, StopRacingDeliveriesKeepsHeaderDataAndResultInStep) {
    const fs::path out = File("race.wav");
    for (int i = 0; i < 150; ++i) {
        ASSERT_EQ(Start(out), RESULT_OK);
        std::thread device([] {
            while (scripted::DeliverBlock()) {
            }
        });
        std::this_thread::sleep_for(std::chrono::microseconds(50 * (i % 8)));
        const std::int32_t seconds = SoundRecorderStop();
        device.join();
        ASSERT_GE(seconds, 0);
        ASSERT_EQ(ReadFile(out), ExpectedRecording(static_cast<std::uint32_t>(seconds))) << "iteration " << i;
    }
}

// Each file holds exactly the seconds handed over before its switch, an
// empty one included, also those the writer has not taken yet; NextFile
// reports them as Stop does.
TEST_F(RecorderTest, NextFileSplitsTheRecordingWithoutAGap) {
    ASSERT_EQ(Start(File("0.wav")), RESULT_OK);
    std::uint32_t serial = 0;
    for (std::uint32_t n = 0; n < 4; ++n) {
        for (std::uint32_t b = 0; b < n; ++b) ASSERT_TRUE(scripted::DeliverBlockNow());
        std::int32_t finished = -1;
        ASSERT_EQ(Next(File(std::to_string(n + 1) + ".wav"), finished), RESULT_OK);
        EXPECT_EQ(finished, static_cast<std::int32_t>(n));
        EXPECT_EQ(ReadFile(File(std::to_string(n) + ".wav")), ExpectedRecording(n, serial)) << "file " << n;
        EXPECT_EQ(ReadFile(File(std::to_string(n + 1) + ".wav")), ExpectedRecording(0));
        serial += n;
    }
    ASSERT_TRUE(scripted::DeliverBlock());
    // A null place for the seconds is allowed.
    ASSERT_EQ(SoundRecorderNextFile(tolvane::test::Utf16(File("5.wav")).c_str(), nullptr), RESULT_OK);
    EXPECT_EQ(ReadFile(File("4.wav")), ExpectedRecording(1, serial));
    ASSERT_TRUE(scripted::DeliverBlock());
    EXPECT_EQ(SoundRecorderStop(), 1);
    EXPECT_EQ(ReadFile(File("5.wav")), ExpectedRecording(1, serial + 1));
    EXPECT_EQ(scripted::Snapshot().opens, 1) << "the device was reopened";
}

// Switches while the device hands buffers over as fast as it can, several
// of them waiting for the writer: joined again, the files are the recording,
// and every file states what it holds.
TEST_F(RecorderTest, NextFileRacingDeliveriesLosesAndDoublesNothing) {
    constexpr int kFiles = 40;
    ASSERT_EQ(Start(File("0.wav")), RESULT_OK);
    std::atomic<bool> stopping{false};
    std::thread device([&stopping] {
        while (!stopping) {
            if (!scripted::DeliverBlockNow()) std::this_thread::yield();
        }
    });
    std::vector<std::int32_t> seconds;
    for (int n = 1; n < kFiles; ++n) {
        std::int32_t finished = -1;
        ASSERT_EQ(Next(File(std::to_string(n) + ".wav"), finished), RESULT_OK);
        seconds.push_back(finished);
    }
    stopping = true;
    seconds.push_back(SoundRecorderStop());
    device.join();
    std::uint32_t serial = 0;
    for (std::size_t n = 0; n < seconds.size(); ++n) {
        ASSERT_GE(seconds[n], 0);
        const auto blocks = static_cast<std::uint32_t>(seconds[n]);
        ASSERT_EQ(ReadFile(File(std::to_string(n) + ".wav")), ExpectedRecording(blocks, serial)) << "file " << n;
        serial += blocks;
    }
    EXPECT_GT(serial, 0u);
}

// A new file that cannot be made changes nothing: the recording goes on in
// the file it is in.
TEST_F(RecorderTest, NextFileThatCannotBeMadeLeavesTheRecordingGoing) {
    const fs::path out = File("kept.wav");
    ASSERT_EQ(Start(out), RESULT_OK);
    ASSERT_TRUE(scripted::DeliverBlock());
    std::int32_t finished = -1;
    EXPECT_EQ(Next(File("missing") / "x.wav", finished), RESULT_RECORDER_FILE_FAILED);
    EXPECT_EQ(finished, 0);
    EXPECT_EQ(SoundRecorderNextFile(nullptr, &finished), RESULT_RECORDER_FILE_FAILED);
    EXPECT_EQ(Next("/dev/full", finished), RESULT_RECORDER_FILE_FAILED);
    directorySyncError = EIO;
    EXPECT_EQ(Next(File("undurable.wav"), finished), RESULT_RECORDER_FILE_FAILED);
    directorySyncError = 0;
    // The file being recorded, by its own name and by a link, is refused
    // before it loses a byte.
    fs::create_hard_link(out, File("linked.wav"));
    EXPECT_EQ(Next(out, finished), RESULT_RECORDER_FILE_FAILED);
    EXPECT_EQ(Next(File("linked.wav"), finished), RESULT_RECORDER_FILE_FAILED);
    EXPECT_EQ(ReadFile(out), ExpectedRecording(1));
    ASSERT_TRUE(scripted::DeliverBlock());
    EXPECT_EQ(ReadFile(out), ExpectedRecording(2));
    EXPECT_EQ(SoundRecorderStop(), 2);
    EXPECT_EQ(ReadFile(out), ExpectedRecording(2));
    EXPECT_EQ(scripted::Snapshot().opens, 1);
}

TEST_F(RecorderTest, NextFileWithoutRecordingTouchesNothing) {
    std::int32_t finished = -1;
    EXPECT_EQ(Next(File("a.wav"), finished), RESULT_RECORDER_NOT_RECORDING);
    EXPECT_EQ(finished, 0);
    EXPECT_EQ(SoundRecorderNextFile(nullptr, nullptr), RESULT_RECORDER_NOT_RECORDING);
    ASSERT_EQ(Start(File("b.wav")), RESULT_OK);
    ASSERT_TRUE(scripted::DeliverBlock());
    ASSERT_EQ(SoundRecorderStop(), 1);
    const int calls = scripted::Snapshot().calls;
    EXPECT_EQ(Next(File("a.wav"), finished), RESULT_RECORDER_NOT_RECORDING);
    EXPECT_FALSE(fs::exists(File("a.wav")));
    EXPECT_EQ(scripted::Snapshot().calls, calls);
    EXPECT_EQ(ReadFile(File("b.wav")), ExpectedRecording(1));
}

// Writes of this process that would take a file past `bytes` fail part way,
// as on a disk that fills up, while the object lives.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes) {
        ::getrlimit(RLIMIT_FSIZE, &saved_);
        previousHandler_ = std::signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{bytes, saved_.rlim_max};
        set_ = ::setrlimit(RLIMIT_FSIZE, &limit) == 0;
    }
    ~FileSizeLimit() {
        ::setrlimit(RLIMIT_FSIZE, &saved_);
        std::signal(SIGXFSZ, previousHandler_);
    }
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;
    bool set() const { return set_; }

private:
    rlimit saved_{};
    void (*previousHandler_)(int) = SIG_DFL;
    bool set_ = false;
};

// A block that fits only in part is cut off again: the file stays exactly the
// blocks its header counts, with nothing behind them.
TEST_F(RecorderTest, BlockThatCannotBeWrittenWholeLeavesNoTrace) {
    const fs::path out = File("full.wav");
    ASSERT_EQ(Start(out), RESULT_OK);
    ASSERT_TRUE(scripted::DeliverBlock());
    ASSERT_TRUE(scripted::DeliverBlock());
    {
        const FileSizeLimit limit(tolvane::kWavHeaderSize + 2 * kBlockBytes + kBlockBytes / 2);
        ASSERT_TRUE(limit.set());
        ASSERT_TRUE(scripted::DeliverBlock());
        EXPECT_EQ(ReadFile(out).size(), ExpectedRecording(2).size());
    }
    // Room again, but the recording does not resume behind a gap.
    ASSERT_TRUE(scripted::DeliverBlock());
    EXPECT_EQ(SoundRecorderStop(), 2);
    EXPECT_TRUE(ReadFile(out) == ExpectedRecording(2));
}

// A file that a failed write or the block limit ended is still finished by
// NextFile, and the next file takes seconds again from its first.
TEST_F(RecorderTest, NextFileAfterAnEndedFileStartsClean) {
    ASSERT_EQ(Start(File("full.wav")), RESULT_OK);
    ASSERT_TRUE(scripted::DeliverBlock());
    {
        const FileSizeLimit limit(tolvane::kWavHeaderSize + kBlockBytes + kBlockBytes / 2);
        ASSERT_TRUE(limit.set());
        ASSERT_TRUE(scripted::DeliverBlock());  // block 1: lost to the full disk
    }
    std::int32_t finished = -1;
    ASSERT_EQ(Next(File("limited.wav"), finished), RESULT_OK);
    EXPECT_EQ(finished, 1);
    EXPECT_EQ(ReadFile(File("full.wav")), ExpectedRecording(1));
    theRecorder.blockLimit = 2;
    for (int n = 0; n < 3; ++n) ASSERT_TRUE(scripted::DeliverBlock());  // 2, 3; 4 past the limit
    ASSERT_EQ(Next(File("last.wav"), finished), RESULT_OK);
    EXPECT_EQ(finished, 2);
    EXPECT_EQ(ReadFile(File("limited.wav")), ExpectedRecording(2, 2));
    ASSERT_TRUE(scripted::DeliverBlock());
    EXPECT_EQ(SoundRecorderStop(), 1);
    EXPECT_EQ(ReadFile(File("last.wav")), ExpectedRecording(1, 5));
}

// A second that storage did not confirm is never counted, and nothing is
// appended behind it. A directory that cannot hold a durable entry fails the
// Start, unless its file system cannot sync directories at all.
TEST_F(RecorderTest, FailedSyncsAreFailedWrites) {
    directorySyncError = EIO;
    EXPECT_EQ(Start(File("io.wav")), RESULT_RECORDER_FILE_FAILED);
    EXPECT_EQ(scripted::Snapshot().calls, 0);
    directorySyncError = EINVAL;
    const fs::path out = File("lost.wav");
    ASSERT_EQ(Start(out), RESULT_OK);
    ASSERT_TRUE(scripted::DeliverBlock());
    dataSyncError = EIO;
    ASSERT_TRUE(scripted::DeliverBlock());
    EXPECT_EQ(ReadFile(out), ExpectedRecording(1));
    dataSyncError = 0;
    ASSERT_TRUE(scripted::DeliverBlock());
    EXPECT_EQ(SoundRecorderStop(), 1);
    EXPECT_EQ(ReadFile(out), ExpectedRecording(1));
}

// The header's 32-bit sizes must not wrap: at the limit the file takes no
// more blocks, and Stop reports what the header says.
TEST_F(RecorderTest, StopsAppendingAtTheBlockLimit) {
    theRecorder.blockLimit = 2;
    const fs::path out = File("limit.wav");
    ASSERT_EQ(Start(out), RESULT_OK);
    for (int n = 0; n < 4; ++n) {
        ASSERT_TRUE(scripted::DeliverBlock());
    }
    EXPECT_EQ(ReadFile(out), ExpectedRecording(2));
    EXPECT_EQ(SoundRecorderStop(), 2);
    EXPECT_EQ(ReadFile(out), ExpectedRecording(2));
}

}  // namespace

// The last block a file can take lies past 4 GiB: on a 32-bit system too it
// lands where the header says (the blocks before it are left a sparse hole).
TEST_F(RecorderTest, LastBlockBeforeTheLimitLandsPast4GiB) {
    const fs::path out = File("long.wav");
    ASSERT_EQ(Start(out), RESULT_OK);
    {
        const tolvane::platform::MutexGuard lock(theRecorder.lock);
        theRecorder.blockCount = tolvane::recorder::kMaxBlocks - 1;
    }
    ASSERT_TRUE(scripted::DeliverBlock());
    ASSERT_TRUE(scripted::DeliverBlock());  // past the limit: not appended
    EXPECT_EQ(SoundRecorderStop(), tolvane::recorder::kMaxBlocks);

    const std::uint64_t data = std::uint64_t{kBlockBytes} * tolvane::recorder::kMaxBlocks;
    EXPECT_EQ(fs::file_size(out), tolvane::kWavHeaderSize + data);
    std::ifstream in(out, std::ios::binary);
    Bytes header(tolvane::kWavHeaderSize);
    Bytes last(kBlockBytes);
    in.read(reinterpret_cast<char*>(header.data()), static_cast<std::streamsize>(header.size()));
    in.seekg(static_cast<std::streamoff>(tolvane::kWavHeaderSize + data - kBlockBytes));
    in.read(reinterpret_cast<char*>(last.data()), static_cast<std::streamsize>(last.size()));
    ASSERT_TRUE(in.good());
    const tolvane::WavHeader expected = tolvane::MakeWavHeader(8000, static_cast<std::uint32_t>(data / 2));
    EXPECT_EQ(header, Bytes(expected.bytes, expected.bytes + tolvane::kWavHeaderSize));
    Bytes block(kBlockBytes);
    scripted::FillBlock(0, block.data(), block.size());
    EXPECT_TRUE(last == block);
}
