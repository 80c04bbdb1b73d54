// Power cuts during a recording: the real recorder records from the scripted
// input into this file's stand-in for the recording-file layer, which only
// keeps a journal of what reaches the files. Then every state that storage
// may hold after a cut, at every point of that journal, is checked.
#include <gtest/gtest.h>

#include <algorithm>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <deque>
#include <limits>
#include <mutex>
#include <thread>
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

// What reached the files, in order, and the test's own marks: Start or
// NextFile has returned (the file handed over), the device is about to hand
// over a second, Stop has returned.
struct Op {
    enum Kind { kCreate, kWrite, kCut, kSync, kEntrySync, kStarted, kSwitched, kDelivery, kStopped } kind;
    std::uint64_t offset = 0;  // kWrite: where; kCut: the new size
    Bytes data;
    std::size_t file = 0;  // the file's place in `streams`; for kStarted and kSwitched, the file handed over
};
// The files opened, in order; the cookie of each stream is its entry.
struct Stream {
    std::size_t file = 0;
    std::uint64_t position = 0;
    std::FILE* stream = nullptr;
};
// The writer and the host both reach the file layer: `journal`, `streams`
// and `syncs` are guarded by `journalLock`.
std::mutex journalLock;
std::vector<Op> journal;
std::deque<Stream> streams;
int syncs = 0;
int failingSync = 0;  // this sync (counted from 1) fails: what it covered may or may not be kept
// This sync (counted from 1) waits until the test lets it go on.
int stallingSync = 0;
std::mutex stallLock;
std::condition_variable stallEnded;
bool stalled = false;

void Log(Op op) {
    const std::lock_guard<std::mutex> lock(journalLock);
    journal.push_back(std::move(op));
}

std::size_t FileOf(std::FILE* stream) {
    const std::lock_guard<std::mutex> lock(journalLock);
    for (const Stream& s : streams)
        if (s.stream == stream) return s.file;
    ADD_FAILURE() << "a stream the stand-in did not open";
    return 0;
}

bool Sync(Op::Kind kind, std::size_t file) {
    int sync = 0;
    {
        const std::lock_guard<std::mutex> lock(journalLock);
        sync = ++syncs;
    }
    if (sync == stallingSync) {
        std::unique_lock<std::mutex> lock(stallLock);
        stalled = true;
        stallEnded.notify_all();
        stallEnded.wait(lock, [] { return !stalled; });
    }
    if (sync == failingSync) return false;
    Log({kind, 0, {}, file});
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
// and in order, the recording's blocks from `first` on.
::testing::AssertionResult Playable(const Disk& disk, std::uint32_t atLeast, std::uint32_t first) {
    const std::size_t size = disk.exists ? disk.bytes.size() : 0;
    const std::uint32_t counted =
        size < tolvane::kWavHeaderSize ? 0 : static_cast<std::uint32_t>(tolvane::ReadWavDataSize(disk.bytes.data())) / kBlockBytes;
    const Bytes expected = tolvane::test::ExpectedRecording(counted, scripted::FillBlock, first);
    if (counted >= atLeast && size >= expected.size() && std::equal(expected.begin(), expected.end(), disk.bytes.begin()))
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << size << " bytes, the header counting " << counted << " blocks, "
                                         << atLeast << " due";
}

// What one file handed over must hold: the recording's blocks from `first`
// on, and once the recording has left it, at least `kept` of them on storage.
struct FileDue {
    std::uint32_t first = 0;
    std::uint32_t kept = 0;
};

constexpr std::uint32_t kNoFloor = std::numeric_limits<std::uint32_t>::max();

// Checks every state that storage may hold after a cut following each op of
// the journal: for each file, all up to its last completed sync, plus any
// subset of the writes since, each possibly torn at a sector boundary. Each
// file handed over (`files`, in that order) must be playable from then on,
// holding its own blocks and no other. In the file being recorded, every
// second handed over before the last two (the one in hand, and the one whose
// header the next sync makes durable) must be counted, up to the first
// `floor`; in a file the recording has left (by NextFile or Stop), its
// `kept`. Returns the number of states checked.
long CheckEveryCut(std::uint32_t floor, const std::vector<FileDue>& files) {
    std::size_t opened = 0;
    for (const Op& op : journal) opened = std::max(opened, op.file + 1);
    std::vector<Disk> durable(opened);  // after each file's last completed sync
    std::vector<std::size_t> order(opened, files.size());  // handing-over order; files.size() = not handed over
    std::vector<const Op*> pending;
    std::size_t current = 0;  // the order of the file being recorded, plus one
    bool stopped = false;
    std::uint32_t delivered = 0;  // into the file being recorded
    long states = 0;
    for (const Op& op : journal) {
        if (op.kind == Op::kStarted || op.kind == Op::kSwitched) {
            if (current == files.size()) {
                ADD_FAILURE() << "more files handed over than expected";
                return states;
            }
            order[op.file] = current++;
            delivered = 0;
        }
        stopped |= op.kind == Op::kStopped;
        delivered += op.kind == Op::kDelivery;
        if (op.kind == Op::kEntrySync) durable[op.file].exists = true;
        if (op.kind == Op::kCreate || op.kind == Op::kWrite || op.kind == Op::kCut) pending.push_back(&op);
        if (op.kind == Op::kSync) {
            // Only the synced file's writes become durable.
            std::vector<const Op*> others;
            for (const Op* p : pending) {
                if (p->file == op.file) durable[op.file].Apply(*p, p->data.size());
                else others.push_back(p);
            }
            pending.swap(others);
        }
        // An odometer over the pending ops: 0 = lost, then the first 1, 2, ...
        // sectors of a write kept, the last = all of it (or the cut done).
        auto choices = [&](std::size_t i) -> std::uint64_t {
            const Op& p = *pending[i];
            return p.kind != Op::kWrite ? 2 : (p.offset + p.data.size() - 1) / kSector - p.offset / kSector + 2;
        };
        std::vector<std::uint64_t> choice(pending.size(), 0);
        for (bool more = true; more; ++states) {
            std::vector<Disk> disk = durable;
            for (std::size_t j = 0; j < pending.size(); ++j) {
                const Op& p = *pending[j];
                const std::uint64_t torn = (p.offset / kSector + choice[j]) * kSector - p.offset;
                if (choice[j] != 0) disk[p.file].Apply(p, choice[j] + 1 == choices(j) ? p.data.size() : torn);
            }
            for (std::size_t f = 0; f < opened; ++f) {
                const std::size_t k = order[f];
                if (k == files.size()) continue;
                const bool left = stopped || k + 1 < current;
                const std::uint32_t due = left ? files[k].kept : std::min(delivered > 1 ? delivered - 2 : 0, floor);
                const auto playable = Playable(disk[f], due, files[k].first);
                if (!playable) {  // one is enough to tell; thousands would follow
                    ADD_FAILURE() << "file " << f << ": " << playable.message() << ", after op "
                                  << (&op - journal.data());
                    return states;
                }
            }
            std::size_t i = 0;
            while (i < pending.size() && ++choice[i] == choices(i)) choice[i++] = 0;
            more = i < pending.size();
        }
    }
    return states;
}

long CheckEveryCut(std::uint32_t floor, std::uint32_t kept) { return CheckEveryCut(floor, {{0, kept}}); }

void ResetJournal(int failing) {
    const std::lock_guard<std::mutex> lock(journalLock);
    journal.clear();
    streams.clear();
    syncs = 0;
    failingSync = failing;
}

// What a recording into several files reported.
struct Recording {
    std::int32_t started = 0;
    std::vector<std::int32_t> switches;  // NextFile's results
    std::vector<std::int32_t> seconds;   // of each file left, as NextFile and Stop reported them
};

// Records `blocks[k]` seconds, then moves to the next file with NextFile,
// and stops after the last; `failing` names the sync that fails.
Recording RecordInFiles(const std::vector<int>& blocks, int failing) {
    ResetJournal(failing);
    scripted::Reset();
    Recording r;
    r.started = SoundRecorderStart(u"crash.wav");
    if (r.started != RESULT_OK) return r;
    Log({Op::kStarted, 0, {}, 0});
    for (std::size_t k = 0; k < blocks.size(); ++k) {
        for (int b = 0; b < blocks[k]; ++b) {
            Log({Op::kDelivery, 0, {}});
            EXPECT_TRUE(scripted::DeliverBlock());
        }
        if (k + 1 == blocks.size()) break;
        std::int32_t finished = -1;
        r.switches.push_back(SoundRecorderNextFile(u"next.wav", &finished));
        if (r.switches.back() != RESULT_OK) continue;
        r.seconds.push_back(finished);
        const std::lock_guard<std::mutex> lock(journalLock);
        journal.push_back({Op::kSwitched, 0, {}, streams.size() - 1});
    }
    r.seconds.push_back(SoundRecorderStop());
    Log({Op::kStopped, 0, {}});
    return r;
}

// Records `blocks` seconds and stops; `failing` names the sync that fails.
// Returns Stop's result, or -1 with Start's in `started`.
std::int32_t Record(int blocks, int failing, std::int32_t& started) {
    const Recording r = RecordInFiles({blocks}, failing);
    started = r.started;
    return started == RESULT_OK ? r.seconds.back() : -1;
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

// Around each switch, whatever storage keeps: both files are valid, no
// second is in both, and every second the file left was reported with is on
// storage once NextFile returns. An empty file is finished with no sync:
// storage has held it since it was made.
TEST(CrashStates, EveryCutAroundASwitchKeepsBothFilesWhole) {
    const Recording r = RecordInFiles({3, 2, 0, 2}, 0);
    ASSERT_EQ(r.started, RESULT_OK);
    EXPECT_EQ(r.switches, std::vector<std::int32_t>(3, RESULT_OK));
    ASSERT_EQ(r.seconds, (std::vector<std::int32_t>{3, 2, 0, 2}));
    // Each file made: its own and its entry's; each block one; each file
    // with blocks finished with one.
    EXPECT_EQ(SyncsIn(journal), 4 + 7 + 3);
    const long states = CheckEveryCut(kNoFloor, {{0, 3}, {3, 2}, {5, 0}, {5, 2}});
    std::printf("%ld crash states checked\n", states);
    EXPECT_GT(states, 7 * 32);
}

// The syncs of a switch failing: the new file's (6: its header; 7: its
// directory entry) leave the recording in the file it was in; the final
// header's of the file left (8) leaves that file counting every block it
// holds, but storage sure of one less.
TEST(CrashStates, AFailedSyncAtASwitchLosesNoSecondItDidNotHaveTo) {
    for (const int failing : {6, 7, 8}) {
        const Recording r = RecordInFiles({3, 2}, failing);
        ASSERT_EQ(r.started, RESULT_OK);
        if (failing < 8) {
            EXPECT_EQ(r.switches, std::vector<std::int32_t>{RESULT_RECORDER_FILE_FAILED}) << "sync " << failing;
            EXPECT_EQ(r.seconds, std::vector<std::int32_t>{5}) << "sync " << failing;
            EXPECT_GT(CheckEveryCut(kNoFloor, {{0, 5}}), 0);
        } else {
            EXPECT_EQ(r.switches, std::vector<std::int32_t>{RESULT_OK});
            EXPECT_EQ(r.seconds, (std::vector<std::int32_t>{3, 2}));
            EXPECT_GT(CheckEveryCut(kNoFloor, {{0, 2}, {3, 2}}), 0);
        }
    }
}

// Storage that stops answering holds up the writer, never the device: while
// a sync hangs, the device fills every other buffer it was lent (nine
// seconds), and each of them reaches the file once storage answers.
TEST(CrashStates, AStalledSyncCostsNoSecondTheQueueCanHold) {
    ResetJournal(0);
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

// While the file left is finished, the writer holds none of the buffers:
// the device fills every one it was lent, and those seconds go to the new
// file.
TEST(CrashStates, AStalledFinishAtASwitchCostsNoSecond) {
    ResetJournal(0);
    stallingSync = 6;  // Start's two, the first second's, the new file's two, then the finish
    scripted::Reset();
    ASSERT_EQ(SoundRecorderStart(u"crash.wav"), RESULT_OK);
    Log({Op::kStarted, 0, {}, 0});
    ASSERT_TRUE(scripted::DeliverBlock());
    std::int32_t switched = 0;
    std::int32_t finished = -1;
    std::thread host([&] {
        switched = SoundRecorderNextFile(u"next.wav", &finished);
        const std::lock_guard<std::mutex> lock(journalLock);
        journal.push_back({Op::kSwitched, 0, {}, 1});
    });
    {
        std::unique_lock<std::mutex> lock(stallLock);
        stallEnded.wait(lock, [] { return stalled; });
    }
    int held = 0;
    while (held < 20 && scripted::DeliverBlockNow()) ++held;
    EXPECT_EQ(held, tolvane::recorder::kCaptureBuffers);
    {
        const std::lock_guard<std::mutex> lock(stallLock);
        stalled = false;
        stallingSync = 0;
    }
    stallEnded.notify_all();
    host.join();
    EXPECT_EQ(switched, RESULT_OK);
    EXPECT_EQ(finished, 1);
    EXPECT_EQ(SoundRecorderStop(), held);
    Log({Op::kStopped, 0, {}});
    EXPECT_GT(CheckEveryCut(0, {{0, 1}, {1, static_cast<std::uint32_t>(held)}}), 0);
}

}  // namespace

// The recording-file layer, keeping the journal instead of files.
namespace tolvane::platform {
namespace {
ssize_t JournalWrite(void* cookie, const char* data, std::size_t size) {
    Stream& stream = *static_cast<Stream*>(cookie);
    Log({Op::kWrite, stream.position, Bytes(data, data + size), stream.file});
    stream.position += size;
    return static_cast<ssize_t>(size);
}
int JournalSeek(void* cookie, off64_t* offset, int whence) {
    Stream& stream = *static_cast<Stream*>(cookie);
    if (whence == SEEK_END) return -1;
    if (whence == SEEK_CUR) *offset += static_cast<off64_t>(stream.position);
    stream.position = static_cast<std::uint64_t>(*offset);
    return 0;
}
}  // namespace

std::FILE* OpenRecordingFile(const TolvanePathChar*, const RecordingFileId&, RecordingFileId&) {
    const std::lock_guard<std::mutex> lock(journalLock);
    Stream& stream = streams.emplace_back();
    stream.file = streams.size() - 1;
    journal.push_back({Op::kCreate, 0, {}, stream.file});
    stream.stream = ::fopencookie(&stream, "wb", {nullptr, JournalWrite, JournalSeek, nullptr});
    return stream.stream;
}
bool SeekRecordingFile(std::FILE* file, std::uint64_t offset) {
    return std::fseek(file, static_cast<long>(offset), SEEK_SET) == 0;
}
bool CutRecordingFile(std::FILE* file, std::uint64_t size) {
    Log({Op::kCut, size, {}, FileOf(file)});
    return true;
}
bool SyncNewRecordingFile(std::FILE* file, const TolvanePathChar*) {
    return std::fflush(file) == 0 && Sync(Op::kSync, FileOf(file)) && Sync(Op::kEntrySync, FileOf(file));
}
bool SyncRecordingFile(std::FILE* file) { return std::fflush(file) == 0 && Sync(Op::kSync, FileOf(file)); }
}  // namespace tolvane::platform
