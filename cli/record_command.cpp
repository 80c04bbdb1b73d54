#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

#include "commands.h"
#include "file_name_pattern.h"
#include "finished_file_log.h"
#include "part_files.h"
#include "platform.h"
#include "read_back_file.h"
#include "record_options.h"
#include "recording_monitor.h"
#include "recording_trim.h"
#include "stop_request.h"
#include "utc_time.h"
#include "utf16_args.h"
#include "wav_sizes.h"

namespace tolvane::cli {
namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

// Capture has stopped (the audio server went away, the device was pulled)
// when no new second has reached the file for this long. The library holds
// ten seconds of sound while storage stalls, and a stall it absorbs must not
// end the recording: so this is more than ten seconds.
constexpr auto kCaptureStall = 12s;
// A full disk need not wait for that: a second that is this late while the
// file system has less than kFullBelow bytes free will not come. (A second
// lands every second; storage that only stalls leaves the space free.)
constexpr auto kFullDiskLate = 2s;
constexpr std::uint64_t kFullBelow = 2 * std::uint64_t{kSecondBytes};
// How often the file is looked at. On a terminal, often enough for a live
// meter. Where nobody watches, each look wakes the processor of a
// battery-powered board, so the file is looked at when a second that
// matters is due (the last of a file, of the recording), and between those
// only as often as the checks need: every ten seconds while all is well,
// every second once a look finds no new second, or the disk near full.
constexpr auto kMeterTick = 100ms;
constexpr auto kQuietTick = 1000ms;
constexpr auto kHealthTick = 10s;
// Below this much free beyond --keep-free, the disk is looked at every
// second: twice the sound a look at kHealthTick lets land.
constexpr std::uint64_t kLowSpaceBytes = 2 * 10 * std::uint64_t{kSecondBytes};
// A look this soon after the one before that finds a new second tells when
// seconds land to within that; the next ones are expected by it.
constexpr auto kPromptLook = 150ms;
// A file's last second is looked for from this long before the clock
// expects it (a device hands a second over up to a ring, at most a second,
// after it ends; the clocks drift meanwhile by kClockDrift at most), then
// every kMeterTick, so that the move comes before the next second lands.
constexpr auto kLandingEarly = 1s;
// The recording's last second needs no such care (what lands after it is
// cut): it is looked for this long after it is expected.
constexpr auto kEndLate = 100ms;
// Up to this many seconds of sound a second, the file fills at real time
// (its device's clock, a start's latency): the clock tells when the next
// seconds land.
constexpr double kRealTimeMost = 1.05;
// The shortest look when the file fills faster than real time (catching up
// after storage lagged), so that a move is still made near its second.
constexpr auto kShortestTick = 1ms;
constexpr auto kFirstSecondsTick = 10ms;
// Of sound arriving, as much as may land while a move away from a file near
// its 2 GiB is asked for and made, however the process is scheduled.
constexpr double kLimitLeadTime = 0.5;
// Only when the file cannot be read back is a timed recording ended by the
// clock: the device hands over each second a little after it has passed, so
// it waits this much longer for the last one.
constexpr auto kLastSecondGrace = 500ms;

enum class Ending { kLengthReached, kStopRequested, kCaptureStopped, kDiskFull, kKeepFree };

int UsageError(const std::string& message) {
    std::fprintf(stderr, "tolvane record: %s\n", message.c_str());
    PrintUsage(stderr);
    return kExitUsage;
}

void ReportFailure(std::int32_t result, const char* path) {
    switch (result) {
        case RESULT_RECORDER_OPEN_FAILED:
            std::fputs("tolvane record: no capture device could be opened with 8000 Hz 16-bit mono "
                       "(or a recording is already running)\n",
                       stderr);
            break;
        case RESULT_RECORDER_QUEUE_FAILED:
            std::fputs("tolvane record: the capture device would not take a capture buffer\n", stderr);
            break;
        case RESULT_RECORDER_START_FAILED:
            std::fputs("tolvane record: the capture device would not start capturing\n", stderr);
            break;
        case RESULT_RECORDER_FILE_FAILED:
            std::fprintf(stderr, "tolvane record: cannot create %s\n", path);
            break;
        default:
            std::fprintf(stderr, "tolvane record: recording failed (result %d)\n", static_cast<int>(result));
            break;
    }
}

const char* Plural(std::uint64_t n) { return n == 1 ? "" : "s"; }

// The status line on a terminal, rewritten in place.
class StatusDisplay {
public:
    explicit StatusDisplay(bool shown) : shown_(shown) {}

    void Show(const std::string& line) {
        if (!shown_ || line == last_) return;
        // Padded over what a longer line before it left behind.
        const std::size_t pad = last_.size() > line.size() ? last_.size() - line.size() : 0;
        std::fprintf(stderr, "\r%s%*s", line.c_str(), static_cast<int>(pad), "");
        last_ = line;
    }

    void End() {
        if (shown_ && !last_.empty()) std::fputc('\n', stderr);
        last_.clear();
    }

private:
    bool shown_;
    std::string last_;
};

// The file being written.
struct CurrentFile {
    std::uint32_t number = 1;        // in this recording, from 1
    std::uint64_t secondsBefore = 0; // in the recording's earlier files
    std::uint64_t namedBefore = 0;   // the seconds before it that its .part name was made for
    std::string part;                // NAME.part
    Utf16Path partWide;
    Clock::time_point began;
};

// Whether `path` holds more than a header: more than a try to create it
// that failed can have left.
bool LongerThanHeader(const std::string& path) {
    Utf16Path wide;
    ReadBackFile file;
    unsigned char byte = 0;
    return Utf8ToUtf16(path.c_str(), wide) && file.Open(path.c_str(), wide) && file.ReadAt(kHeaderBytes, &byte, 1);
}

class Recording {
public:
    Recording(const RecordOptions& options, const FileNamePattern& pattern, FinishedFileLog& log)
        : options_(options), pattern_(pattern), log_(log), terminal_(StderrIsTerminal()), display_(terminal_) {}

    int Run();

private:
    bool Rotating() const { return monitor_ && monitor_->IsOpen(); }
    std::uint64_t Total() const { return file_.secondsBefore + (monitor_ ? monitor_->levels().countedSeconds : 0); }
    // The recording's total seconds at which the current file is to end:
    // the next multiple of --split, so that the files keep to that grid
    // after one that took a second or more extra; or the longest a file may be.
    std::uint64_t Boundary() const {
        // The lead is bounded so that a file still ends at least a second in.
        const std::uint64_t lead = LimitLead();
        const std::uint64_t longest =
            file_.secondsBefore + kLongestFileSeconds - (lead < kLongestFileSeconds ? lead : kLongestFileSeconds - 1);
        if (options_.splitSeconds == 0) return longest;
        const std::uint64_t grid = (file_.secondsBefore / options_.splitSeconds + 1) * options_.splitSeconds;
        return grid < longest ? grid : longest;
    }
    // When sound reaches the file faster than real time (catching up after
    // storage lagged), the move away from a file near 2 GiB is asked for
    // this many seconds early: what lands while the move is being made must
    // still fit. 0 at real time.
    std::uint64_t LimitLead() const {
        const double ran = std::chrono::duration<double>(Clock::now() - started_).count();
        const double rate = ran > 0 ? static_cast<double>(Total()) / ran : 0;
        return rate > 2 ? static_cast<std::uint64_t>(rate * kLimitLeadTime) : 0;
    }
    // A file's .part name, for the seconds expected before it; false when
    // that has no UTF-16 spelling.
    bool NameFile(CurrentFile& file, std::uint64_t secondsBefore) const;
    bool OpenMonitor();
    Ending Watch();
    Clock::duration Tick(Clock::time_point now) const;
    // Returns true once the recording is in the next file.
    bool MoveToNextFile(Clock::time_point now);
    // Gives a finished file its final name, prints it and logs it.
    void Finish(const CurrentFile& file, std::uint32_t seconds, FileEnd end, double elapsedAtEnd);

    const RecordOptions& options_;
    const FileNamePattern& pattern_;
    FinishedFileLog& log_;
    const bool terminal_;
    StatusDisplay display_;
    std::int64_t startUnixMs_ = 0;  // the wall clock as the first sample was captured
    Clock::time_point started_;     // when Start returned
    CurrentFile file_;
    std::unique_ptr<RecordingMonitor> monitor_;
    std::uint64_t clippedBefore_ = 0;
    double lostReported_ = 0;  // in the files finished so far
    bool renameFailed_ = false;
    bool moveFailureSaid_ = false;
    std::string failedNext_;  // the .part name a move failed to create; "" after a move
    std::uint64_t failedNamedBefore_ = 0;
    Clock::time_point nextMoveTry_{};
    // When a second was seen to land, and the recording's total then: at
    // real time, second N lands N - anchorTotal_ seconds later. Set by the
    // first second seen, then moved by any second that lands sooner than
    // that says, and by one seen promptly no later than it says, give or
    // take the clocks' drift: never by one that storage held back, or every
    // move after would come late.
    bool anchored_ = false;
    Clock::time_point anchorAt_;
    std::uint64_t anchorTotal_ = 0;
    Clock::time_point Expected(std::uint64_t second) const {
        return anchorAt_ + std::chrono::seconds(static_cast<std::int64_t>(second - anchorTotal_));
    }
    Clock::duration Drift(std::uint64_t second) const {
        return std::chrono::duration_cast<Clock::duration>(
            std::chrono::duration<double>(static_cast<double>(second - anchorTotal_) * kClockDrift));
    }
    void Anchor(Clock::time_point now, bool prompt);
    bool watchful_ = false;  // something is off: looked at every second
};

bool Recording::NameFile(CurrentFile& file, std::uint64_t secondsBefore) const {
    const std::string wanted = pattern_.Expand(startUnixMs_ + static_cast<std::int64_t>(secondsBefore) * 1000, file.number);
    file.namedBefore = secondsBefore;
    file.part = FreeName(wanted) + kPartSuffix;
    return Utf8ToUtf16(file.part.c_str(), file.partWide);
}

bool Recording::OpenMonitor() {
    monitor_ = std::make_unique<RecordingMonitor>();
    return monitor_->Open(file_.part.c_str(), file_.partWide);
}

Clock::duration Recording::Tick(Clock::time_point now) const {
    const Clock::duration quiet = terminal_ ? Clock::duration(kMeterTick) : Clock::duration(kQuietTick);
    if (!Rotating()) return quiet;
    const std::uint64_t total = Total();
    const double ran = std::chrono::duration<double>(now - started_).count();
    // Until the rate shows, as closely as a boundary may come.
    if (total < 2 || ran <= 0) return kFirstSecondsTick;
    const double rate = static_cast<double>(total) / ran;  // seconds of sound a second, so far
    const std::uint64_t due = Boundary();
    if (total >= due) return quiet;  // a move that failed: tried again each second
    // Faster than real time (a device's fast mode, catching up after storage
    // lagged), the next boundary is looked for by the rate, ever more often.
    if (rate > kRealTimeMost) {
        const auto untilDue = std::chrono::duration<double>(static_cast<double>(due - total) / rate / 8);
        const auto tick = std::chrono::duration_cast<Clock::duration>(untilDue);
        return tick < kShortestTick ? Clock::duration(kShortestTick) : tick < quiet ? tick : quiet;
    }
    if (terminal_ || !anchored_) return kMeterTick;
    // At real time, with nobody watching: at the next second that matters,
    // or when a check is due.
    Clock::time_point next = now + (watchful_ ? Clock::duration(kQuietTick) : Clock::duration(kHealthTick));
    const std::uint64_t seconds = options_.seconds;
    if (seconds == 0 || due < seconds) {
        next = std::min(next, Expected(due) - std::max(Clock::duration(kLandingEarly), Drift(due)));
    }
    if (seconds > 0 && seconds > total) next = std::min(next, Expected(seconds) + kEndLate);
    return next > now ? next - now : Clock::duration(kMeterTick);
}

void Recording::Anchor(Clock::time_point now, bool prompt) {
    const std::uint64_t total = Total();
    if (!anchored_ || now < Expected(total) || (prompt && now <= Expected(total) + kPromptLook + Drift(total))) {
        anchored_ = true;
        anchorAt_ = now;
        anchorTotal_ = total;
    }
}

void Recording::Finish(const CurrentFile& file, std::uint32_t seconds, FileEnd end, double elapsedAtEnd) {
    // Named for the seconds expected before it; when the file before took
    // more (storage lagging at the move), its name is made again for the
    // time of its first sample.
    const std::string stem = FinalNameOf(file.part);
    const std::string wanted =
        file.namedBefore == file.secondsBefore
            ? stem
            : pattern_.Expand(startUnixMs_ + static_cast<std::int64_t>(file.secondsBefore) * 1000, file.number);
    std::string finalPath;
    if (!FinishPart(file.part, wanted, finalPath)) {
        std::fprintf(stderr, "tolvane record: cannot rename %s to %s: it keeps its name\n", file.part.c_str(),
                     wanted.c_str());
        renameFailed_ = true;
    }
    std::printf("Recorded %u second%s to %s\n", static_cast<unsigned>(seconds), Plural(seconds), finalPath.c_str());
    std::fflush(stdout);
    // What the clock says went missing so far, less what earlier files took.
    const AudioLoss loss = EstimateAudioLoss(elapsedAtEnd, static_cast<std::uint32_t>(file.secondsBefore + seconds));
    const double lostSoFar = loss.lost ? loss.leastSeconds : 0;
    FinishedFile entry;
    entry.path = finalPath;
    entry.firstSampleUnixMs = startUnixMs_ + static_cast<std::int64_t>(file.secondsBefore) * 1000;
    entry.seconds = seconds;
    entry.finishedUnixMs = UnixMsNow();
    entry.lostSeconds = lostSoFar > lostReported_ ? lostSoFar - lostReported_ : 0;
    entry.end = end;
    lostReported_ += entry.lostSeconds;
    log_.Append(entry);
}

bool Recording::MoveToNextFile(Clock::time_point now) {
    if (now < nextMoveTry_) return false;
    CurrentFile next;
    next.number = file_.number + 1;
    // A name under which something else has written since the try that
    // failed (that try leaves at most a header) is not tried again: the
    // library would truncate it.
    if (!failedNext_.empty() && LongerThanHeader(failedNext_)) failedNext_.clear();
    if (failedNext_.empty()) {
        if (!NameFile(next, Total())) return false;  // the pattern is UTF-8; its expansion stays so
    } else {
        // Tried again under the same name: a try that failed may have left
        // the name taken by an empty file, and a new name each second would
        // leave one each second.
        next.part = failedNext_;
        next.namedBefore = failedNamedBefore_;
        if (!Utf8ToUtf16(next.part.c_str(), next.partWide)) return false;
    }
    std::int32_t finished = 0;
    const double elapsed = std::chrono::duration<double>(Clock::now() - started_).count();
    const std::int32_t result = SoundRecorderNextFile(next.partWide.c_str(), &finished);
    if (result != RESULT_OK) {
        // The recording goes on in the current file; another try in a second.
        // A file the try created but could not write a header to (a full
        // disk) is not left behind as an empty .part.
        RemoveIfEmpty(next.part, next.partWide);
        if (!moveFailureSaid_) {
            display_.End();
            std::fprintf(stderr, "tolvane record: cannot create %s: the recording goes on in %s\n", next.part.c_str(),
                         file_.part.c_str());
        }
        moveFailureSaid_ = true;
        failedNext_ = next.part;
        failedNamedBefore_ = next.namedBefore;
        nextMoveTry_ = now + 1s;
        return false;
    }
    moveFailureSaid_ = false;
    failedNext_.clear();
    clippedBefore_ += monitor_->levels().clippedSamples;
    monitor_.reset();  // closed before the rename, which Windows needs
    display_.End();
    const CurrentFile left = file_;
    // A file that filled faster than it was looked at may pass --seconds.
    const std::uint64_t allowed = options_.seconds > left.secondsBefore ? options_.seconds - left.secondsBefore : 0;
    if (options_.seconds > 0 && static_cast<std::uint64_t>(finished) > allowed) {
        bool headerCounts = false;
        if (TrimRecording(left.part.c_str(), left.partWide, static_cast<std::uint32_t>(allowed), headerCounts) ||
            headerCounts) {
            finished = static_cast<std::int32_t>(allowed);
        }
    }
    next.secondsBefore = left.secondsBefore + static_cast<std::uint64_t>(finished);
    next.began = Clock::now();
    Finish(left, static_cast<std::uint32_t>(finished), options_.splitSeconds > 0 ? FileEnd::kSplit : FileEnd::kLimit,
           elapsed);
    file_ = next;
    // It could read the file before, so it should read this one; if not,
    // the recording goes on in this file, with nothing to tell when to end it.
    if (!OpenMonitor()) {
        std::fprintf(stderr,
                     "tolvane record: cannot read %s back: the recording goes on in it without a level meter, a "
                     "check that capture goes on, or a next file\n",
                     file_.part.c_str());
    }
    return true;
}

// Waits until --seconds are saved, a stop is requested, capture stops or
// the disk fills, moving to the next file at each boundary and showing the
// status line on a terminal.
Ending Recording::Watch() {
    if (terminal_) std::fprintf(stderr, "Recording to %s (Ctrl-C stops)\n", options_.pattern.c_str());
    const std::uint64_t seconds = options_.seconds;
    const Clock::time_point timeUp = started_ + std::chrono::seconds(seconds) + kLastSecondGrace;
    Clock::time_point lastSecond = started_;
    Clock::time_point lastLook = started_;
    Clock::time_point lastSpaceCheck = started_ - kQuietTick;
    bool spaceLow = false;
    anchored_ = false;
    for (;;) {
        const Clock::time_point now = Clock::now();
        const bool watching = Rotating();
        if (watching && monitor_->Update()) {
            lastSecond = now;
            Anchor(now, now - lastLook <= kPromptLook);
        }
        lastLook = now;
        if (watching) {
            RecordingLevels shown = monitor_->levels();
            shown.savedSeconds = static_cast<std::uint32_t>(Total());
            shown.clippedSamples += clippedBefore_;
            const auto elapsed = std::chrono::duration_cast<std::chrono::seconds>(now - started_).count();
            display_.Show(StatusLine(static_cast<std::int64_t>(elapsed), shown));
        }
        const bool lengthReached = seconds > 0 && (watching ? Total() >= seconds : now >= timeUp);
        if (lengthReached) return Ending::kLengthReached;
        if (watching && now - lastSecond >= kCaptureStall) return Ending::kCaptureStopped;
        std::uint64_t free = 0;
        if (watching && now - lastSecond >= kFullDiskLate && FreeBytes(pattern_.folder(), free) && free < kFullBelow) {
            return Ending::kDiskFull;
        }
        if (now - lastSpaceCheck >= kQuietTick) {
            lastSpaceCheck = now;
            if (FreeBytes(pattern_.folder(), free)) {
                if (options_.keepFreeBytes > 0 && free < options_.keepFreeBytes) return Ending::kKeepFree;
                spaceLow = free < options_.keepFreeBytes + kFullBelow + kLowSpaceBytes;
            }
        }
        // A second a look finds missing (more than a second since the last)
        // is looked for every second, as is a disk near full.
        watchful_ = spaceLow || (watching && now - lastSecond > kQuietTick + kMeterTick);
        if (watching && Total() >= Boundary() && MoveToNextFile(now)) {
            lastSecond = Clock::now();
            continue;
        }
        if (WaitForStopRequest(std::chrono::duration_cast<std::chrono::milliseconds>(Tick(now)))) {
            return Ending::kStopRequested;
        }
    }
}

int Recording::Run() {
    // Ctrl-C (and SIGTERM) ends the recording; caught before the library
    // starts its capture thread.
    CatchStopRequests();
    RecoverParts(pattern_);
    startUnixMs_ = UnixMsNow();
    if (!NameFile(file_, 0)) {
        std::fprintf(stderr, "tolvane record: path is not valid UTF-8: %s\n", options_.pattern.c_str());
        return kExitUsage;
    }
    const std::int32_t result = SoundRecorderStart(file_.partWide.c_str());
    if (result != RESULT_OK) {
        ReportFailure(result, file_.part.c_str());
        // A device that failed leaves the file valid and empty: it is kept
        // under its final name, as any finished file.
        std::string finalPath;
        if (result != RESULT_RECORDER_FILE_FAILED) {
            FinishPart(file_.part, FinalNameOf(file_.part), finalPath);
        } else {
            // Created but not written (a full disk): no empty .part is left.
            RemoveIfEmpty(file_.part, file_.partWide);
        }
        return 1;
    }
    started_ = Clock::now();
    file_.began = started_;
    // Read back from the file the library writes, so that what is shown is
    // what is saved; without it there is no meter, no stall check and no
    // next file.
    if (!OpenMonitor()) {
        std::fprintf(stderr,
                     "tolvane record: cannot read %s back: recording without a level meter, a check that "
                     "capture goes on, or a next file\n",
                     file_.part.c_str());
    }
    const Ending ending = Watch();
    display_.End();
    const double ran = std::chrono::duration<double>(Clock::now() - started_).count();
    // Writes every whole second captured so far, waiting for storage.
    const std::int32_t saved = SoundRecorderStop();
    monitor_.reset();
    std::int32_t recorded = saved < 0 ? 0 : saved;
    bool trimFailed = false;
    // A file that filled later than the seconds passed (storage lagging)
    // got more whole seconds at Stop than were asked for.
    const std::uint64_t seconds = options_.seconds;
    const std::uint64_t wanted = seconds > file_.secondsBefore ? seconds - file_.secondsBefore : 0;
    if (seconds > 0 && static_cast<std::uint64_t>(recorded) > wanted) {
        bool headerCounts = false;
        trimFailed = !TrimRecording(file_.part.c_str(), file_.partWide, static_cast<std::uint32_t>(wanted), headerCounts);
        // What is printed is what the header counts.
        if (headerCounts) recorded = static_cast<std::int32_t>(wanted);
        if (trimFailed) {
            std::fprintf(stderr, "tolvane record: cannot cut %s back to %llu seconds\n", file_.part.c_str(),
                         static_cast<unsigned long long>(wanted));
        }
    }
    const FileEnd end = ending == Ending::kCaptureStopped                              ? FileEnd::kCaptureStopped
                        : ending == Ending::kDiskFull || ending == Ending::kKeepFree ? FileEnd::kDiskFull
                                                                                       : FileEnd::kStop;
    const std::uint64_t before = file_.secondsBefore;
    Finish(file_, static_cast<std::uint32_t>(recorded), end, ran);
    const std::uint64_t total = before + static_cast<std::uint64_t>(recorded);
    const std::string folder = pattern_.folder().empty() ? "." : pattern_.folder();
    switch (ending) {
        case Ending::kCaptureStopped:
            std::fprintf(stderr, "tolvane record: capture stopped after %llu second%s: nothing new reached %s for %d s\n",
                         static_cast<unsigned long long>(total), Plural(total), file_.part.c_str(),
                         static_cast<int>(kCaptureStall.count()));
            return 1;
        case Ending::kDiskFull:
            std::fprintf(stderr,
                         "tolvane record: the disk is full: the recording ended after %llu second%s; every file "
                         "is finished and kept (%s)\n",
                         static_cast<unsigned long long>(total), Plural(total), folder.c_str());
            return 1;
        case Ending::kKeepFree:
            std::fprintf(stderr,
                         "tolvane record: less than the %llu bytes of --keep-free are free on the disk of %s: the "
                         "recording ended after %llu second%s; every file is finished and kept\n",
                         static_cast<unsigned long long>(options_.keepFreeBytes), folder.c_str(),
                         static_cast<unsigned long long>(total), Plural(total));
            return 1;
        default:
            break;
    }
    // The library keeps no count of what it could not capture; the clock
    // tells. Only what was saved counts, before any cut.
    const std::uint64_t savedTotal = before + static_cast<std::uint64_t>(saved < 0 ? 0 : saved);
    const AudioLoss loss = EstimateAudioLoss(ran, static_cast<std::uint32_t>(savedTotal));
    if (loss.lost) {
        std::fprintf(stderr,
                     "tolvane record: audio lost: the recording holds %llu s of the %.1f s recorded; between %.1f "
                     "and %.1f s of sound are missing (the device was not read in time, or storage stalled for "
                     "longer than the recorder can hold)\n",
                     static_cast<unsigned long long>(savedTotal), ran, loss.leastSeconds, loss.mostSeconds);
        return 1;
    }
    // Only a stop request may end a timed recording short.
    const bool short_ = ending != Ending::kStopRequested && total < seconds;
    return trimFailed || renameFailed_ || short_ ? 1 : 0;
}

}  // namespace

int RunRecord(int argc, char** argv) {
    RecordOptions options;
    std::string problem;
    if (!ParseRecordOptions(argc, argv, options, problem)) return UsageError(problem);
    Utf16Path wide;
    if (!Utf8ToUtf16(options.pattern.c_str(), wide)) {
        std::fprintf(stderr, "tolvane record: path is not valid UTF-8: %s\n", options.pattern.c_str());
        return kExitUsage;
    }
    FileNamePattern pattern;
    if (!pattern.Parse(options.pattern, problem)) return UsageError(problem);
    FinishedFileLog log;
    if (!options.logPath.empty() && !log.Open(options.logPath)) {
        std::fprintf(stderr, "tolvane record: cannot open %s to append to\n", options.logPath.c_str());
        return 1;
    }
    return Recording(options, pattern, log).Run();
}

}  // namespace tolvane::cli
