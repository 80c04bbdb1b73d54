// What tests of the audio input share: a handler that logs every message and
// keeps every delivered sample, the capture format, a private HOME whose
// .asoundrc decides ALSA's "default" PCM, and checks on what was captured.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/wave_in.h"
#include "ramp_check.h"

struct CaptureLog {
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<UINT> messages;
    std::vector<const WAVEHDR*> dataHeaders;   // param1 of each WIM_DATA
    std::vector<DWORD> dataBytes;              // dwBytesRecorded of each WIM_DATA
    std::vector<DWORD> dataFlags;              // dwFlags of each WIM_DATA
    std::vector<std::uint16_t> samples;        // every delivered sample, in order
    std::vector<std::thread::id> threads;      // the thread of each call
    std::vector<MMRESULT> requeueResults;

    // While set, the handler queues each delivered buffer again (after
    // copying it aside), as the recorder does.
    std::atomic<bool> requeue{false};
    // How long the handler dawdles before it queues a buffer again.
    std::atomic<int> requeueDelayMs{0};

    // Waits until `count` WIM_DATA have arrived; false on timeout.
    bool WaitForData(std::size_t count, std::chrono::milliseconds timeout);
    std::size_t DataCount();
    std::size_t MessageCount();
};

// The handler; `instance` is the CaptureLog.
void LogWaveInMessage(HWAVEIN device, UINT message, DWORD_PTR instance, DWORD_PTR param1, DWORD_PTR param2);

WAVEFORMATEX CaptureFormat();

// Opens WAVE_MAPPER in the capture format with LogWaveInMessage and `log`.
MMRESULT OpenLogged(HWAVEIN* device, CaptureLog& log);

// A prepared header over `storage`.
struct PreparedBuffer {
    std::vector<char> storage;
    WAVEHDR header{};
};
void Prepare(HWAVEIN device, PreparedBuffer& buffer, std::size_t bytes);

using tolvane::test::IsContiguousRamp;

// Threads of this process now.
std::size_t ThreadCount();

// Makes a fresh directory with `asoundrc` as its .asoundrc (with every
// "@HOME@" replaced by the directory) and points HOME at it. Must run before
// this process first opens an ALSA PCM: ALSA reads its configuration once.
// Returns the directory, empty on failure.
std::string UsePrivateAlsaHome(const std::string& asoundrc);

// Removes a directory made by UsePrivateAlsaHome.
void RemoveDirectory(const std::string& dir);
