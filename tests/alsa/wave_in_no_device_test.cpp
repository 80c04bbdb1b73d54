// With no capture device reachable, opening fails cleanly: an error code, no
// handle, no handler call and no thread left behind.
#include <cstdlib>

#include "capture_log.h"

namespace {

// "default" routed to a PulseAudio server that does not exist.
class NoDeviceHome : public ::testing::Environment {
public:
    void SetUp() override {
        setenv("PULSE_SERVER", "unix:/nonexistent/tolvane/native", 1);
        dir_ = UsePrivateAlsaHome("pcm.!default { type pulse server \"unix:/nonexistent/tolvane/native\" }\n");
        ASSERT_FALSE(dir_.empty());
    }
    void TearDown() override { RemoveDirectory(dir_); }

private:
    std::string dir_;
};

TEST(WaveInNoDevice, OpenFailsAndLeavesNothingRunning) {
    const std::size_t threadsBefore = ThreadCount();
    CaptureLog log;
    for (int attempt = 0; attempt < 2; ++attempt) {
        HWAVEIN device = reinterpret_cast<HWAVEIN>(&log);
        EXPECT_NE(OpenLogged(&device, log), MMSYSERR_NOERROR);
        EXPECT_EQ(device, nullptr);
    }
    EXPECT_EQ(log.MessageCount(), 0u);
    EXPECT_EQ(ThreadCount(), threadsBefore);
}

}  // namespace

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    ::testing::AddGlobalTestEnvironment(new NoDeviceHome);
    return RUN_ALL_TESTS();
}
