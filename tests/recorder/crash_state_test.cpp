// Power cuts during a recording: the real recorder records from the scripted
// input into this file's stand-in for the recording-file layer, which only
// keeps a journal of what reaches the file. Then every state that storage may
// hold after a cut, at every point of that journal, is checked.
#include <gtest/gtest.h>

#include <algorithm>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <vector>

#include "TolvaneWAVTimeStretch.h"
#include "expected_recording.h"
#include "platform/recording_file.h"
#include "recorder/recorder_state.h"
#include "scripted_wave_in.h"
#include "wav/wav_header.h"

namespace {

using tolvane::recorder::kBlockBytes;
using Bytes = std::vector<unsigned char>;
constexpr std::uint64_t kSector = 512;  // storage keeps or loses whole sectors

// What reached the file, in order, and the test's own marks: Start has
// returned, the device is about to hand over a second, Stop has returned.
struct Op {
    enum Kind { kCreate, kWrite, kCut, kSync, kEntrySync, kStarted, kDelivery, kStopped } kind;
    std::uint64_t offset = 0;  // kWrite: where; kCut: the new size
    Bytes data;
};
std::vector<Op> journal;
std::uint64_t filePosition = 0;
int syncs = 0;
int failingSync = 0;  // this sync (counted from 1) fails: what it covered may or may not be kept
// This sync (counted from 1) waits until the test lets it go on.
int stallingSync = 0;
std::mutex stallLock;
std::condition_variable stallEnded;
bool stalled = false;

bool Sync(Op::Kind kind) {
    if (++syncs == stallingSync) {
        std::unique_lock<std::mutex> lock(stallLock);
        stalled = true;
        stallEnded.notify_all();
        stallEnded.wait(lock, [] { return !stalled; });
    }
    if (syncs == failingSync) return false;
    journal.push_back({kind, 0, {}});
    return true;
}

// What storage holds: the file's bytes, and whether its entry survives.
struct Disk {
    bool exists = false;
    Bytes bytes;
    void Apply(const Op& op, std::uint64_t length) {
        // Offsets and lengths are 64-bit; these files are small on any system.
        const auto offset = static_cast<std::size_t>(op.offset);
        const auto size = static_cast<std::size_t>(length);
        if (op.kind == Op::kCreate || op.kind == Op::kCut) bytes.resize(offset);
        if (op.kind != Op::kWrite) return;
        if (bytes.size() < offset + size) bytes.resize(offset + size);
        std::memcpy(bytes.data() + offset, op.data.data(), size);
    }
};

// A valid WAV whose header counts at least `atLeast` whole blocks, all there
// and in order.
::testing::AssertionResult Playable(const Disk& disk, std::uint32_t atLeast) {
    const std::size_t size = disk.exists ? disk.bytes.size() : 0;
    const std::uint32_t counted =
        size < tolvane::kWavHeaderSize ? 0 : static_cast<std::uint32_t>(tolvane::ReadWavDataSize(disk.bytes.data())) / kBlockBytes;
    const Bytes expected = tolvane::test::ExpectedRecording(counted, scripted::FillBlock);
    if (counted >= atLeast && size >= expected.size() && std::equal(expected.begin(), expected.end(), disk.bytes.begin()))
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << size << " bytes, the header counting " << counted << " blocks, "
                                         << atLeast << " due";
}

// Checks every state that storage may hold after a cut following each op of
// the journal: all up to the last completed sync, plus any subset of the
// writes since, each possibly torn at a sector boundary. Every second handed
// over before the last two (the one in hand, and the one whose header the
// next sync makes durable) must be counted, up to the first `floor`; once
// Stop has returned, the first `kept`. Returns the number of states checked.
long CheckEveryCut(std::uint32_t floor, std::uint32_t kept) {
    Disk durable;  // after the last completed sync
    std::vector<const Op*> pending;
    bool started = false, stopped = false;
    std::uint32_t delivered = 0;
    long states = 0;
    for (const Op& op : journal) {
        started |= op.kind == Op::kStarted;
        stopped |= op.kind == Op::kStopped;
        delivered += op.kind == Op::kDelivery;
        durable.exists |= op.kind == Op::kEntrySync;
        if (op.kind == Op::kCreate || op.kind == Op::kWrite || op.kind == Op::kCut) pending.push_back(&op);
        if (op.kind == Op::kSync) {
            for (const Op* p : pending) durable.Apply(*p, p->data.size());
            pending.clear();
        }
        // An odometer over the pending ops: 0 = lost, then the first 1, 2, ...
        // sectors of a write kept, the last = all of it (or the cut done).
        auto choices = [&](std::size_t i) -> std::uint64_t {
            const Op& p = *pending[i];
            return p.kind != Op::kWrite ? 2 : (p.offset + p.data.size() - 1) / kSector - p.offset / kSector + 2;
        };
        std::vector<std::uint64_t> choice(pending.size(), 0);
        for (bool more = true; more; ++states) {
            Disk disk = durable;
            for (std::size_t j = 0; j < pending.size(); ++j) {
                const Op& p = *pending[j];
                const std::uint64_t torn = (p.offset / kSector + choice[j]) * kSector - p.offset;
                if (choice[j] != 0) disk.Apply(p, choice[j] + 1 == choices(j) ? p.data.size() : torn);
            }
            const std::uint32_t due = stopped ? kept : std::min(delivered > 1 ? delivered - 2 : 0, floor);
            const auto playable = started ? Playable(disk, due) : ::testing::AssertionSuccess();
            if (!playable) {  // one is enough to tell; thousands would follow
                ADD_FAILURE() << playable.message() << ", after op " << (&op - journal.data());
                return states;
            }
            std::size_t i = 0;
            while (i < pending.size() && ++choice[i] == choices(i)) choice[i++] = 0;
            more = i < pending.size();
        }
    }
    return states;
}

// Records `blocks` seconds and stops; `failing` names the sync that fails.
// Returns Stop's result, or -1 with Start's in `started`.
std::int32_t Record(int blocks, int failing, std::int32_t& started) {
    journal.clear();
    syncs = 0;
    failingSync = failing;
    scripted::Reset();
    started = SoundRecorderStart(u"crash.wav");
    if (started != RESULT_OK) return -1;
    journal.push_back({Op::kStarted, 0, {}});
    for (int b = 0; b < blocks; ++b) {
        journal.push_back({Op::kDelivery, 0, {}});
        EXPECT_TRUE(scripted::DeliverBlock());
    }
    const std::int32_t kept = SoundRecorderStop();
    journal.push_back({Op::kStopped, 0, {}});
    return kept;
}

int SyncsIn(const std::vector<Op>& ops) {
    return static_cast<int>(std::count_if(ops.begin(), ops.end(), [](const Op& op) { return op.kind == Op::kSync; }));
}

// One sync a second, and one more to finish the file.
TEST(CrashStates, EveryCutLeavesAPlayableFileWithAllButTheLastTwoSeconds) {
    std::int32_t started = 0;
    ASSERT_EQ(Record(6, 0, started), 6);
    EXPECT_EQ(SyncsIn(journal), 1 + 6 + 1);
    const long states = CheckEveryCut(6, 6);
    std::printf("%ld crash states checked\n", states);
    EXPECT_GT(states, 6 * 32);
}

// Whichever sync fails, the file never counts a block that storage may lack,
// nothing is appended after it, and Stop returns what the header counts. The
// syncs: Start's two (file, directory), then each second's one (its block
// and the header counting the one before), then Stop's (the final header).
TEST(CrashStates, AFailedSyncNeverLeavesACountedBlockThatIsNotThere) {
    long states = 0;
    for (int failing = 1; failing <= 2 + 5 + 1; ++failing) {
        std::int32_t started = 0;
        const std::int32_t kept = Record(5, failing, started);
        if (failing <= 2) {  // Start's: no recording, no device
            EXPECT_EQ(started, RESULT_RECORDER_FILE_FAILED);
            EXPECT_EQ(scripted::Snapshot().calls, 0);
            continue;
        }
        // Second n's sync failing loses it; the header counting the one
        // before may be lost with it, so only the blocks before that are sure
        // to be counted until Stop's sync. Stop's sync failing leaves its
        // last block counted in the file, but storage sure of one less.
        const int second = failing - 2;
        EXPECT_EQ(kept, std::min(second - 1, 5)) << "sync " << failing;
        states += CheckEveryCut(static_cast<std::uint32_t>(std::max(second - 2, 0)),
                                static_cast<std::uint32_t>(second > 5 ? 4 : kept));
    }
    std::printf("%ld crash states checked\n", states);
}

// Storage that stops answering holds up the writer, never the device: while
// a sync hangs, the device fills every other buffer it was lent (nine
// seconds), and each of them reaches the file once storage answers.
TEST(CrashStates, AStalledSyncCostsNoSecondTheQueueCanHold) {
    journal.clear();
    syncs = 0;
    failingSync = 0;
    stallingSync = 3;  // the first second's
    scripted::Reset();
    ASSERT_EQ(SoundRecorderStart(u"crash.wav"), RESULT_OK);
    ASSERT_TRUE(scripted::DeliverBlockNow());
    {
        std::unique_lock<std::mutex> lock(stallLock);
        stallEnded.wait(lock, [] { return stalled; });
    }
    int held = 0;
    while (held < 20 && scripted::DeliverBlockNow()) ++held;
    EXPECT_EQ(held, tolvane::recorder::kCaptureBuffers - 1);
    {
        const std::lock_guard<std::mutex> lock(stallLock);
        stalled = false;
        stallingSync = 0;
    }
    stallEnded.notify_all();
    EXPECT_EQ(SoundRecorderStop(), 1 + held);
    EXPECT_GT(CheckEveryCut(0, static_cast<std::uint32_t>(1 + held)), 0);
}

}  // namespace

// The recording-file layer, keeping the journal instead of a file.
namespace tolvane::platform {
namespace {
ssize_t JournalWrite(void*, const char* data, std::size_t size) {
    journal.push_back({Op::kWrite, filePosition, Bytes(data, data + size)});
    filePosition += size;
    return static_cast<ssize_t>(size);
}
int JournalSeek(void*, off64_t* offset, int whence) {
    if (whence == SEEK_END) return -1;
    if (whence == SEEK_CUR) *offset += static_cast<off64_t>(filePosition);
    filePosition = static_cast<std::uint64_t>(*offset);
    return 0;
}
}  // namespace

std::FILE* OpenRecordingFile(const TolvanePathChar*) {
    journal.push_back({Op::kCreate, 0, {}});
    filePosition = 0;
    return ::fopencookie(nullptr, "wb", {nullptr, JournalWrite, JournalSeek, nullptr});
}
bool SeekRecordingFile(std::FILE* file, std::uint64_t offset) {
    return std::fseek(file, static_cast<long>(offset), SEEK_SET) == 0;
}
bool CutRecordingFile(std::FILE*, std::uint64_t size) {
    journal.push_back({Op::kCut, size, {}});
    return true;
}
bool SyncNewRecordingFile(std::FILE* file, const TolvanePathChar*) {
    return std::fflush(file) == 0 && Sync(Op::kSync) && Sync(Op::kEntrySync);
}
bool SyncRecordingFile(std::FILE* file) { return std::fflush(file) == 0 && Sync(Op::kSync); }
}  // namespace tolvane::platform
