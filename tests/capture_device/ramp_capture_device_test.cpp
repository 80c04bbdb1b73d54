// The test capture device keeps the promises the recorder's tests rely on:
// the sizes it grants, a ramp from sample 0, an overrun that stops the
// stream as a sound card's does, and with a stop threshold at the boundary,
// a reader that can see how far behind it fell and skip to what is left.
// ALSA reads its configuration once per process: every test here opens the
// device through the same home (250 ms ring, 50 ms periods).
#include <alsa/asoundlib.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "files.h"
#include "ramp_check.h"

namespace tolvane::test {
namespace {

using namespace std::chrono_literals;

constexpr snd_pcm_uframes_t kRing = 2000;
constexpr snd_pcm_uframes_t kPeriod = 400;

struct Closer {
    void operator()(snd_pcm_t* pcm) const { snd_pcm_close(pcm); }
};
using Pcm = std::unique_ptr<snd_pcm_t, Closer>;

class CaptureDevice : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        static const ScratchDir home;
        const std::string command = DEVICE_HOME_SCRIPT " " + home.path() + " " CAPTURE_DEVICE_MODULE;
        ASSERT_EQ(std::system(command.c_str()), 0);
        setenv("HOME", home.path().c_str(), 1);
    }

    // Opened as the recorder opens it: non-blocking, asking for a 2 s ring
    // in 100 ms periods.
    void SetUp() override {
        snd_pcm_t* raw = nullptr;
        ASSERT_EQ(snd_pcm_open(&raw, "default", SND_PCM_STREAM_CAPTURE, SND_PCM_NONBLOCK), 0);
        pcm_.reset(raw);
        snd_pcm_hw_params_t* hw = nullptr;
        snd_pcm_hw_params_alloca(&hw);
        ASSERT_GE(snd_pcm_hw_params_any(raw, hw), 0);
        ASSERT_EQ(snd_pcm_hw_params_set_access(raw, hw, SND_PCM_ACCESS_RW_INTERLEAVED), 0);
        ASSERT_EQ(snd_pcm_hw_params_set_format(raw, hw, SND_PCM_FORMAT_S16_LE), 0);
        ASSERT_EQ(snd_pcm_hw_params_set_channels(raw, hw, 1), 0);
        ASSERT_EQ(snd_pcm_hw_params_set_rate(raw, hw, 8000, 0), 0);
        unsigned ring = 2'000'000;
        unsigned period = 100'000;
        ASSERT_EQ(snd_pcm_hw_params_set_buffer_time_near(raw, hw, &ring, nullptr), 0);
        ASSERT_EQ(snd_pcm_hw_params_set_period_time_near(raw, hw, &period, nullptr), 0);
        ASSERT_EQ(snd_pcm_hw_params(raw, hw), 0);
        snd_pcm_uframes_t ringFrames = 0;
        snd_pcm_uframes_t periodFrames = 0;
        ASSERT_EQ(snd_pcm_get_params(raw, &ringFrames, &periodFrames), 0);
        EXPECT_EQ(ringFrames, kRing);
        EXPECT_EQ(periodFrames, kPeriod);
    }

    // Everything waiting now (at most a ring and a half), little-endian on
    // any machine.
    std::vector<std::int16_t> ReadWaiting() {
        std::vector<unsigned char> bytes(kRing * 3);
        last_ = snd_pcm_readi(pcm_.get(), bytes.data(), kRing * 3 / 2);
        std::vector<std::int16_t> samples(last_ > 0 ? static_cast<std::size_t>(last_) : 0);
        for (std::size_t i = 0; i < samples.size(); ++i) {
            samples[i] = static_cast<std::int16_t>(bytes[2 * i] | bytes[2 * i + 1] << 8);
        }
        return samples;
    }

    snd_pcm_state_t State() {
        snd_pcm_status_t* status = nullptr;
        snd_pcm_status_alloca(&status);
        EXPECT_EQ(snd_pcm_status(pcm_.get(), status), 0);
        avail_ = snd_pcm_status_get_avail(status);
        return snd_pcm_status_get_state(status);
    }

    Pcm pcm_;
    snd_pcm_sframes_t last_ = 0;
    snd_pcm_uframes_t avail_ = 0;
};

TEST_F(CaptureDevice, PlaysARampFromSampleZeroAtTheClocksPace) {
    ASSERT_EQ(snd_pcm_start(pcm_.get()), 0);
    std::vector<std::int16_t> all;
    for (int i = 0; i < 6; ++i) {
        ASSERT_GE(snd_pcm_wait(pcm_.get(), 1000), 1);
        const std::vector<std::int16_t> got = ReadWaiting();
        ASSERT_GE(got.size(), kPeriod) << "woken before a period waited";
        all.insert(all.end(), got.begin(), got.end());
    }
    ASSERT_FALSE(all.empty());
    EXPECT_EQ(all.front(), 0);
    EXPECT_TRUE(IsContiguousRamp(all));
}

TEST_F(CaptureDevice, ReaderARingBehindStopsTheStreamInXrun) {
    ASSERT_EQ(snd_pcm_start(pcm_.get()), 0);
    std::this_thread::sleep_for(400ms);
    EXPECT_TRUE(ReadWaiting().empty());
    EXPECT_EQ(last_, -EPIPE);
    EXPECT_EQ(State(), SND_PCM_STATE_XRUN);
    EXPECT_EQ(avail_, kRing) << "stopped where the reader was a ring behind";
    // Started again, it captures the present: the numbers jump by the time
    // that went by.
    ASSERT_EQ(snd_pcm_prepare(pcm_.get()), 0);
    ASSERT_EQ(snd_pcm_start(pcm_.get()), 0);
    ASSERT_GE(snd_pcm_wait(pcm_.get(), 1000), 1);
    const std::vector<std::int16_t> after = ReadWaiting();
    ASSERT_FALSE(after.empty());
    EXPECT_GE(after.front(), 3200) << "400 ms went by";
    EXPECT_TRUE(IsContiguousRamp(after));
}

TEST_F(CaptureDevice, StreamThatNeverStopsShowsTheLossAndKeepsTheRing) {
    snd_pcm_sw_params_t* sw = nullptr;
    snd_pcm_sw_params_alloca(&sw);
    ASSERT_EQ(snd_pcm_sw_params_current(pcm_.get(), sw), 0);
    snd_pcm_uframes_t boundary = 0;
    ASSERT_EQ(snd_pcm_sw_params_get_boundary(sw, &boundary), 0);
    ASSERT_EQ(snd_pcm_sw_params_set_stop_threshold(pcm_.get(), sw, boundary), 0);
    ASSERT_EQ(snd_pcm_sw_params(pcm_.get(), sw), 0);

    ASSERT_EQ(snd_pcm_start(pcm_.get()), 0);
    std::this_thread::sleep_for(500ms);
    EXPECT_EQ(State(), SND_PCM_STATE_RUNNING);
    const snd_pcm_sframes_t behind = snd_pcm_avail(pcm_.get());
    ASSERT_GE(behind, 4000);
    // The frames beyond the ring are gone; skipping them (and 100 ms more,
    // which capture goes on overwriting while this runs) leaves frames that
    // read as the captured ones that followed them.
    const auto skip = static_cast<snd_pcm_uframes_t>(behind) - kRing + 800;
    ASSERT_EQ(snd_pcm_forward(pcm_.get(), skip), static_cast<snd_pcm_sframes_t>(skip));
    const std::vector<std::int16_t> rest = ReadWaiting();
    ASSERT_GE(rest.size(), kRing - 800);
    EXPECT_EQ(static_cast<std::uint16_t>(rest.front()), static_cast<std::uint16_t>(skip));
    EXPECT_TRUE(IsContiguousRamp(rest));
}

}  // namespace
}  // namespace tolvane::test
