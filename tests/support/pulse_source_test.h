// Tests that record from the PulseAudio ramp source which a CTest fixture
// (tolvane_pulse_source_fixture) starts in PULSE_SOURCE_DIR, a directory the
// test program is compiled with.
#pragma once

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>

namespace tolvane::test {

inline bool PulseAudioInstalled() { return std::system("command -v pulseaudio >/dev/null 2>&1") == 0; }

class PulseSourceTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!PulseAudioInstalled()) GTEST_SKIP() << "pulseaudio is not installed";
        struct stat info {};
        ASSERT_EQ(::stat(PULSE_SOURCE_DIR "/native", &info), 0)
            << "the PulseAudio test source is not running (pulse_source.sh start " PULSE_SOURCE_DIR ")";
    }
};

}  // namespace tolvane::test
