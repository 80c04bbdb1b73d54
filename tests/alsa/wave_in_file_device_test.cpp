// The audio input over ALSA's file plugin: known content, delivered as fast
// as it is read, so these tests check order, counts, flags and the request
// protocol rather than timing.
#include <fstream>

#include "capture_log.h"

namespace {

constexpr std::size_t kRampSamples = 80000;

// ALSA's "default" replaced by a PCM that captures a ramp from a file.
class FileDeviceHome : public ::testing::Environment {
public:
    void SetUp() override {
        dir_ = UsePrivateAlsaHome(
            "pcm.!default { type file slave.pcm \"null\" file \"/dev/null\" "
            "infile \"@HOME@/ramp.raw\" format \"raw\" }\n");
        ASSERT_FALSE(dir_.empty());
        std::ofstream ramp(dir_ + "/ramp.raw", std::ios::binary);
        for (std::size_t n = 0; n < kRampSamples; ++n) {
            const char bytes[2] = {static_cast<char>(n & 0xFF), static_cast<char>((n >> 8) & 0xFF)};
            ramp.write(bytes, 2);
        }
    }
    void TearDown() override { RemoveDirectory(dir_); }

private:
    std::string dir_;
};

TEST(WaveInFileDevice, FillsQueuedBuffersInOrderOnOneCaptureThread) {
    const std::size_t threadsBefore = ThreadCount();
    CaptureLog log;
    HWAVEIN device = nullptr;
    ASSERT_EQ(OpenLogged(&device, log), MMSYSERR_NOERROR);
    ASSERT_NE(device, nullptr);
    PreparedBuffer buffers[3];
    const std::size_t sizes[3] = {16000, 16000, 4000};
    for (int i = 0; i < 3; ++i) {
        Prepare(device, buffers[i], sizes[i]);
        ASSERT_EQ(waveInAddBuffer(device, &buffers[i].header, sizeof(WAVEHDR)), MMSYSERR_NOERROR);
    }
    ASSERT_EQ(waveInStart(device), MMSYSERR_NOERROR);
    ASSERT_TRUE(log.WaitForData(3, std::chrono::seconds(10)));
    EXPECT_EQ(waveInStop(device), MMSYSERR_NOERROR);
    for (auto& buffer : buffers) EXPECT_EQ(waveInUnprepareHeader(device, &buffer.header, sizeof(WAVEHDR)), 0u);
    ASSERT_EQ(waveInClose(device), MMSYSERR_NOERROR);

    // Nothing runs after Close: the log can be read without its lock.
    EXPECT_EQ(log.messages, (std::vector<UINT>{WIM_OPEN, WIM_DATA, WIM_DATA, WIM_DATA, WIM_CLOSE}));
    EXPECT_EQ(log.dataHeaders,
              (std::vector<const WAVEHDR*>{&buffers[0].header, &buffers[1].header, &buffers[2].header}));
    EXPECT_EQ(log.dataBytes, (std::vector<DWORD>{16000, 16000, 4000}));
    for (const DWORD flags : log.dataFlags) EXPECT_EQ(flags, WHDR_DONE | WHDR_PREPARED);
    for (const auto& id : log.threads) EXPECT_EQ(id, log.threads.front());
    EXPECT_NE(log.threads.front(), std::this_thread::get_id());
    ASSERT_FALSE(log.samples.empty());
    EXPECT_EQ(log.samples.front(), 0);
    EXPECT_TRUE(IsContiguousRamp(log.samples));
    EXPECT_EQ(ThreadCount(), threadsBefore);
}

TEST(WaveInFileDevice, QueuedBuffersStayLentUntilResetHandsThemBack) {
    CaptureLog log;
    HWAVEIN device = nullptr;
    ASSERT_EQ(OpenLogged(&device, log), MMSYSERR_NOERROR);
    PreparedBuffer first;
    PreparedBuffer second;
    PreparedBuffer unprepared;
    Prepare(device, first, 16000);
    Prepare(device, second, 16000);
    unprepared.storage.resize(16000);
    unprepared.header.lpData = unprepared.storage.data();
    unprepared.header.dwBufferLength = 16000;
    EXPECT_EQ(waveInAddBuffer(device, &unprepared.header, sizeof(WAVEHDR)), WAVERR_UNPREPARED);
    ASSERT_EQ(waveInAddBuffer(device, &first.header, sizeof(WAVEHDR)), MMSYSERR_NOERROR);
    ASSERT_EQ(waveInAddBuffer(device, &second.header, sizeof(WAVEHDR)), MMSYSERR_NOERROR);

    // Never started: both stay queued, and a queued buffer is not released.
    EXPECT_EQ(waveInAddBuffer(device, &first.header, sizeof(WAVEHDR)), WAVERR_STILLPLAYING);
    EXPECT_EQ(waveInUnprepareHeader(device, &first.header, sizeof(WAVEHDR)), WAVERR_STILLPLAYING);
    EXPECT_EQ(waveInClose(device), WAVERR_STILLPLAYING);
    EXPECT_EQ(waveInStop(device), MMSYSERR_NOERROR);  // nothing in them: nothing handed back
    EXPECT_EQ(log.DataCount(), 0u);

    // Reset returns once both are back, empty and in queue order.
    ASSERT_EQ(waveInReset(device), MMSYSERR_NOERROR);
    {
        const std::lock_guard<std::mutex> lock(log.mutex);
        EXPECT_EQ(log.dataHeaders, (std::vector<const WAVEHDR*>{&first.header, &second.header}));
        EXPECT_EQ(log.dataBytes, (std::vector<DWORD>{0, 0}));
    }
    EXPECT_EQ(waveInUnprepareHeader(device, &first.header, sizeof(WAVEHDR)), MMSYSERR_NOERROR);
    EXPECT_EQ(waveInAddBuffer(device, &first.header, sizeof(WAVEHDR)), WAVERR_UNPREPARED);
    EXPECT_EQ(waveInUnprepareHeader(device, &second.header, sizeof(WAVEHDR)), MMSYSERR_NOERROR);
    ASSERT_EQ(waveInClose(device), MMSYSERR_NOERROR);
    EXPECT_EQ(log.messages.back(), WIM_CLOSE);
}

// A handler that asks the device to stop, reset and close from within.
struct SelfStoppingHandler {
    std::mutex mutex;
    std::condition_variable called;
    std::vector<MMRESULT> results;

    static void OnMessage(HWAVEIN device, UINT message, DWORD_PTR instance, DWORD_PTR, DWORD_PTR) {
        if (message != WIM_DATA) return;
        auto& self = *reinterpret_cast<SelfStoppingHandler*>(instance);
        const MMRESULT stop = waveInStop(device);
        const MMRESULT reset = waveInReset(device);
        const MMRESULT close = waveInClose(device);
        const std::lock_guard<std::mutex> lock(self.mutex);
        self.results = {stop, reset, close};
        self.called.notify_all();
    }
};

TEST(WaveInFileDevice, RequestsFromWithinTheHandlerFailInsteadOfDeadlocking) {
    SelfStoppingHandler handler;
    const WAVEFORMATEX format = CaptureFormat();
    HWAVEIN device = nullptr;
    ASSERT_EQ(waveInOpen(&device, WAVE_MAPPER, &format, reinterpret_cast<DWORD_PTR>(&SelfStoppingHandler::OnMessage),
                         reinterpret_cast<DWORD_PTR>(&handler), CALLBACK_FUNCTION),
              MMSYSERR_NOERROR);
    PreparedBuffer buffer;
    Prepare(device, buffer, 1600);
    ASSERT_EQ(waveInAddBuffer(device, &buffer.header, sizeof(WAVEHDR)), MMSYSERR_NOERROR);
    ASSERT_EQ(waveInStart(device), MMSYSERR_NOERROR);
    {
        std::unique_lock<std::mutex> lock(handler.mutex);
        ASSERT_TRUE(handler.called.wait_for(lock, std::chrono::seconds(10), [&] { return !handler.results.empty(); }));
        EXPECT_EQ(handler.results, (std::vector<MMRESULT>{MMSYSERR_ERROR, MMSYSERR_ERROR, MMSYSERR_ERROR}));
    }
    EXPECT_EQ(waveInReset(device), MMSYSERR_NOERROR);
    EXPECT_EQ(waveInClose(device), MMSYSERR_NOERROR);
}

TEST(WaveInFileDevice, OpensOnlyTheDefaultDeviceInTheCaptureFormat) {
    const std::size_t threadsBefore = ThreadCount();
    CaptureLog log;
    const auto open = [&log](UINT id, const WAVEFORMATEX& format, DWORD flags) {
        HWAVEIN device = reinterpret_cast<HWAVEIN>(&log);  // must be cleared on failure
        const MMRESULT result = waveInOpen(&device, id, &format, reinterpret_cast<DWORD_PTR>(&LogWaveInMessage),
                                           reinterpret_cast<DWORD_PTR>(&log), flags);
        EXPECT_EQ(device, nullptr);
        return result;
    };
    const WAVEFORMATEX good = CaptureFormat();
    WAVEFORMATEX stereo = good;
    stereo.nChannels = 2;
    WAVEFORMATEX faster = good;
    faster.nSamplesPerSec = 16000;
    WAVEFORMATEX eightBit = good;
    eightBit.wBitsPerSample = 8;
    WAVEFORMATEX notPcm = good;
    notPcm.wFormatTag = 3;
    EXPECT_EQ(open(0, good, CALLBACK_FUNCTION), MMSYSERR_BADDEVICEID);
    EXPECT_EQ(open(WAVE_MAPPER, stereo, CALLBACK_FUNCTION), WAVERR_BADFORMAT);
    EXPECT_EQ(open(WAVE_MAPPER, faster, CALLBACK_FUNCTION), WAVERR_BADFORMAT);
    EXPECT_EQ(open(WAVE_MAPPER, eightBit, CALLBACK_FUNCTION), WAVERR_BADFORMAT);
    EXPECT_EQ(open(WAVE_MAPPER, notPcm, CALLBACK_FUNCTION), WAVERR_BADFORMAT);
    EXPECT_EQ(open(WAVE_MAPPER, good, 0x00050000 /* CALLBACK_EVENT */), MMSYSERR_INVALFLAG);
    EXPECT_EQ(log.MessageCount(), 0u);
    EXPECT_EQ(ThreadCount(), threadsBefore);

    // Without a callback the device works and calls nothing. One device is
    // open at a time; a closed one takes no more requests.
    HWAVEIN device = nullptr;
    ASSERT_EQ(waveInOpen(&device, WAVE_MAPPER, &good, 0, 0, 0), MMSYSERR_NOERROR);
    EXPECT_EQ(open(WAVE_MAPPER, good, CALLBACK_FUNCTION), MMSYSERR_ALLOCATED);
    EXPECT_EQ(waveInStart(device), MMSYSERR_NOERROR);
    EXPECT_EQ(waveInClose(device), MMSYSERR_NOERROR);
    EXPECT_EQ(waveInStart(device), MMSYSERR_INVALHANDLE);
    ASSERT_EQ(waveInOpen(&device, WAVE_MAPPER, &good, 0, 0, 0), MMSYSERR_NOERROR);
    EXPECT_EQ(waveInClose(device), MMSYSERR_NOERROR);
}

}  // namespace

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    ::testing::AddGlobalTestEnvironment(new FileDeviceHome);
    return RUN_ALL_TESTS();
}
