// WAVStrech called straight through the shared library from many threads.
#include <gtest/gtest.h>
#include <pthread.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <thread>
#include <vector>

#include "TolvaneWAVTimeStretch.h"
#include "files.h"
#include "utf16.h"
#include "wav_bytes.h"

namespace tolvane::test {
namespace {

TEST(StretchThreads, EightConversionsAtOnceEachGetTheirOwnResult) {
    ScratchDir dir;
    constexpr int kThreads = 8;
    std::vector<Bytes> inputs;
    for (int t = 0; t < kThreads; ++t) {
        inputs.push_back(WavFile(8000, Ramp(40000 + 4096 * static_cast<std::size_t>(t), 1000u * static_cast<std::uint32_t>(t))));
        WriteFile(dir / ("in" + std::to_string(t) + ".wav"), inputs.back());
    }
    std::vector<int> results(kThreads);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            const auto in = Utf16(dir / ("in" + std::to_string(t) + ".wav"));
            const auto out = Utf16(dir / ("out" + std::to_string(t) + ".wav"));
            int worst = RESULT_OK;
            for (int round = 0; round < 5; ++round) {
                const int got = WAVStrech(in.c_str(), out.c_str());
                if (got != RESULT_OK) worst = got;
            }
            results[static_cast<std::size_t>(t)] = worst;
        });
    }
    for (auto& th : threads) th.join();
    for (int t = 0; t < kThreads; ++t) {
        EXPECT_EQ(results[static_cast<std::size_t>(t)], RESULT_OK);
        EXPECT_EQ(ReadFile(dir / ("out" + std::to_string(t) + ".wav")), ExpectedStretchFile(inputs[static_cast<std::size_t>(t)]));
    }
}

#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
TEST(StretchThreads, FitsInASmallThreadStack) {
    // Hosts may run it on threads with small stacks; 96 KiB must be enough.
    // Some systems give no thread less (AArch64: 128 KiB, for 64 KiB pages).
    const auto smallest = static_cast<std::size_t>(std::max(sysconf(_SC_THREAD_STACK_MIN), 96L * 1024));
    ScratchDir dir;
    const Bytes input = WavFile(8000, Ramp(100000));
    WriteFile(dir / "in.wav", input);
    struct Job {
        std::u16string in, out;
        int result = 0;
    } job{Utf16(dir / "in.wav"), Utf16(dir / "out.wav")};
    pthread_attr_t attr;
    pthread_attr_init(&attr);
    ASSERT_EQ(pthread_attr_setstacksize(&attr, smallest), 0);
    pthread_t thread;
    ASSERT_EQ(pthread_create(
                  &thread, &attr,
                  [](void* p) -> void* {
                      auto* j = static_cast<Job*>(p);
                      j->result = WAVStrech(j->in.c_str(), j->out.c_str());
                      return nullptr;
                  },
                  &job),
              0);
    pthread_join(thread, nullptr);
    pthread_attr_destroy(&attr);
    EXPECT_EQ(job.result, RESULT_OK);
    EXPECT_EQ(ReadFile(dir / "out.wav"), ExpectedStretchFile(input));
}
#endif

TEST(StretchThreads, NullPathsFailCleanly) {
    ScratchDir dir;
    WriteFile(dir / "in.wav", WavFile(8000, Ramp(10)));
    const auto in = Utf16(dir / "in.wav");
    EXPECT_EQ(WAVStrech(nullptr, in.c_str()), RESULT_STRETCH_FAILED);
    EXPECT_EQ(WAVStrech(in.c_str(), nullptr), RESULT_STRETCH_FAILED);
    const char16_t lone[] = {u'x', 0xD800, 0};
    EXPECT_EQ(WAVStrech(in.c_str(), lone), RESULT_STRETCH_FAILED);
}

}  // namespace
}  // namespace tolvane::test
