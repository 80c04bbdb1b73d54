// A capture device that behaves like a board's own sound hardware, as an
// ALSA external I/O plugin (type "tolvane_test_capture"), for the tests that
// need what a sound server hides: a small ring that overruns when it is not
// read in time.
//
// - Capture only, 8000 Hz, S16_LE, mono; read/write interleaved access.
// - Paced by CLOCK_MONOTONIC: a running stream has captured exactly
//   (now - start) x 8000 frames, worked out from the clock on every look (a
//   frame lasts exactly 125 us). The poll descriptor is a timerfd set for
//   the first period boundary at which avail_min frames wait (or the
//   stream would stop), as a sound card's interrupt wakes a reader only
//   then; it only wakes, it never counts frames, so it cannot make the
//   device drift.
// - A ring of `ring_ms` (default 250) in periods of `period_ms` (default 50):
//   the only sizes the device grants, as a board's codec often does.
// - Sample n, numbered by the clock from the first frame captured since
//   the device was opened (so a restart after an overrun goes on with the
//   number of its time), is n mod 65536 as a 16-bit value: every lost or
//   repeated sample shows in a recording.
// - Overruns as hardware does. With the default stop threshold (the ring),
//   once the reader is a whole ring behind, the stream stops: reads fail with
//   -EPIPE, the state is XRUN, and what was captured after that is never
//   seen; the reader prepares and starts again. With a stop threshold at or
//   past the boundary the stream never stops: the ring keeps being
//   overwritten, avail (snd_pcm_avail, the status's avail) grows past the
//   ring, so avail - ring is exactly the number of frames lost, and reading
//   without skipping them yields the newest frames in those slots, as a DMA
//   ring does.
// - Suspend is not simulated.
// - A fast mode, `speed N`, for soaking a recorder with weeks of sound in
//   minutes: the clock runs N times as fast as CLOCK_MONOTONIC, and with
//   `speed 0` samples come as fast as they are read. Either way the ring
//   never overruns: once it is full, capture waits for the reader, so the
//   ramp stays unbroken however the host is scheduled and what a soak
//   measures is the recorder alone. `speed 1`, the default, is the device
//   above.
//
// Configuration (.asoundrc):
//   pcm_type.tolvane_test_capture { lib "/path/to/libasound_module_pcm_tolvane_test_capture.so" }
//   pcm.!default { type tolvane_test_capture ring_ms 250 period_ms 50 }
//   (optionally `speed N` as well)
#include <alsa/asoundlib.h>
#include <alsa/pcm_external.h>
#include <poll.h>
#include <sys/timerfd.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <new>

namespace {

constexpr unsigned kRate = 8000;
constexpr std::int64_t kFrameNs = 1'000'000'000 / kRate;  // exact: 125 000 ns
constexpr unsigned kFrameBytes = 2;

struct RampDevice {
    snd_pcm_ioplug_t io{};
    int timer = -1;
    snd_pcm_uframes_t ringFrames = 0;
    snd_pcm_uframes_t periodFrames = 0;
    long speed = 1;  // 1: real time; N: N times as fast; 0: as fast as read

    bool haveOrigin = false;
    std::int64_t originNs = 0;    // when sample 0 was captured
    std::uint64_t startFrame = 0;  // sample number of the running stream's first frame

    bool running = false;
    bool overrun = false;
    std::uint64_t capturedAtOverrun = 0;  // stream frames captured when the stream stopped
    std::uint64_t reported = 0;          // stream frames as last reported to ALSA

    // From the software parameters; until then, ALSA's defaults.
    snd_pcm_uframes_t stopThreshold = 0;
    snd_pcm_uframes_t availMin = 1;
    snd_pcm_uframes_t boundary = 0;
};

RampDevice* DeviceOf(snd_pcm_ioplug_t* io) { return static_cast<RampDevice*>(io->private_data); }

std::int64_t NowNs() {
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return std::int64_t{t.tv_sec} * 1'000'000'000 + t.tv_nsec;
}

// The fast mode: a ring that waits for its reader instead of overrunning.
bool Fast(const RampDevice* d) { return d->speed != 1; }

// Sample number of the frame being captured now; in the fast mode, the
// clock's, which the reader may not have let the ring keep up with. As fast
// as read, no clock limits it.
std::uint64_t ClockFrame(const RampDevice* d) {
    if (d->speed == 0) return UINT64_MAX / 2;
    const std::int64_t elapsed = NowNs() - d->originNs;
    return static_cast<std::uint64_t>(elapsed / kFrameNs * d->speed + elapsed % kFrameNs * d->speed / kFrameNs);
}

std::uint64_t ReadFrames(const RampDevice* d);

// Frames the running stream has put into its ring so far (frozen by an
// overrun; in the fast mode, never more than a ring ahead of the reader).
std::uint64_t Captured(const RampDevice* d) {
    if (d->overrun) return d->capturedAtOverrun;
    const std::uint64_t byClock = ClockFrame(d) - d->startFrame;
    if (!Fast(d)) return byClock;
    const std::uint64_t full = ReadFrames(d) + d->ringFrames;
    return byClock < full ? byClock : full;
}

// Frames the reader has taken (or skipped) since the start: ALSA keeps its
// pointer modulo the boundary, behind the last position reported to it.
std::uint64_t ReadFrames(const RampDevice* d) {
    const std::uint64_t boundary = d->boundary;
    const std::uint64_t hw = d->reported % boundary;
    return d->reported - (hw + boundary - d->io.appl_ptr) % boundary;
}

bool StopsOnOverrun(const RampDevice* d) { return !Fast(d) && d->stopThreshold < d->boundary; }

// Sets the poll descriptor to turn readable at the first period boundary
// where a reader who has taken `read` frames has avail_min waiting (or
// would overrun, if that comes first); at once if that has passed. Setting
// it clears a readiness still pending. Disarms it when `on` is false.
void ArmWake(RampDevice* d, bool on, std::uint64_t read = 0) {
    itimerspec wake{};
    if (on) {
        std::uint64_t due = d->availMin;
        if (StopsOnOverrun(d) && d->stopThreshold < due) due = d->stopThreshold;
        const std::uint64_t period = d->periodFrames;
        const std::uint64_t boundary = (read + due + period - 1) / period * period;
        std::int64_t at = d->originNs + static_cast<std::int64_t>(d->startFrame + boundary) * kFrameNs;
        // Fast: at the scaled time, or at once (any time past) as fast as read.
        if (Fast(d)) at = d->speed == 0 ? 1 : d->originNs + static_cast<std::int64_t>(d->startFrame + boundary) * (kFrameNs / d->speed);
        wake.it_value = timespec{static_cast<time_t>(at / 1'000'000'000), static_cast<long>(at % 1'000'000'000)};
    }
    timerfd_settime(d->timer, on ? TFD_TIMER_ABSTIME : 0, &wake, nullptr);
}

int Start(snd_pcm_ioplug_t* io) {
    RampDevice* d = DeviceOf(io);
    if (!d->haveOrigin) {
        // The first start captures sample 0 by definition; reading the clock
        // again here could already say 1 on a loaded machine.
        d->originNs = NowNs();
        d->haveOrigin = true;
        d->startFrame = 0;
    } else {
        // A restart goes on with the number of its time; in the fast mode,
        // which has no time of its own, with the frame after the last one.
        d->startFrame = Fast(d) ? d->startFrame + d->reported : ClockFrame(d);
    }
    d->running = true;
    d->overrun = false;
    d->reported = 0;
    ArmWake(d, true);
    return 0;
}

int Stop(snd_pcm_ioplug_t* io) {
    RampDevice* d = DeviceOf(io);
    d->running = false;
    ArmWake(d, false);
    return 0;
}

int Prepare(snd_pcm_ioplug_t* io) {
    RampDevice* d = DeviceOf(io);
    Stop(io);
    d->overrun = false;
    d->reported = 0;
    return 0;
}

// Where the capture stands, modulo the boundary; once overrun, where it
// stopped, with the stream in XRUN (reads then fail with -EPIPE).
snd_pcm_sframes_t Pointer(snd_pcm_ioplug_t* io) {
    RampDevice* d = DeviceOf(io);
    if (d->running && !d->overrun) {
        const std::uint64_t captured = Captured(d);
        const std::uint64_t read = ReadFrames(d);
        if (StopsOnOverrun(d) && captured - read >= d->stopThreshold) {
            // The stream stopped the moment the reader fell that far behind;
            // the position stays there, so avail shows the threshold, as a
            // sound card's does.
            d->overrun = true;
            d->capturedAtOverrun = read + d->stopThreshold;
        }
        d->reported = Captured(d);
    }
    if (d->overrun) snd_pcm_ioplug_set_state(io, SND_PCM_STATE_XRUN);
    return static_cast<snd_pcm_sframes_t>(d->reported % d->boundary);
}

// Copies the frames after the reader's position out of the ring. Slots
// captured over since the reader fell more than a ring behind hold their
// newest frame.
snd_pcm_sframes_t Transfer(snd_pcm_ioplug_t* io, const snd_pcm_channel_area_t* areas, snd_pcm_uframes_t offset,
                           snd_pcm_uframes_t size) {
    RampDevice* d = DeviceOf(io);
    const std::uint64_t captured = Captured(d);
    const std::uint64_t first = ReadFrames(d);
    const std::uint64_t ring = d->ringFrames;
    auto* base = static_cast<unsigned char*>(areas[0].addr);
    for (snd_pcm_uframes_t i = 0; i < size; ++i) {
        std::uint64_t frame = first + i;
        const std::uint64_t age = captured - frame;
        if (age > ring) frame += (age - 1) / ring * ring;
        const auto sample = static_cast<std::uint16_t>(d->startFrame + frame);
        unsigned char* at = base + (areas[0].first + (offset + i) * areas[0].step) / 8;
        at[0] = static_cast<unsigned char>(sample & 0xff);
        at[1] = static_cast<unsigned char>(sample >> 8);
    }
    if (d->running && !d->overrun) ArmWake(d, true, first + size);
    return static_cast<snd_pcm_sframes_t>(size);
}

int HwParams(snd_pcm_ioplug_t* io, snd_pcm_hw_params_t*) {
    RampDevice* d = DeviceOf(io);
    d->stopThreshold = io->buffer_size;
    d->availMin = io->period_size;
    return 0;
}

int SwParams(snd_pcm_ioplug_t* io, snd_pcm_sw_params_t* params) {
    RampDevice* d = DeviceOf(io);
    snd_pcm_sw_params_get_stop_threshold(params, &d->stopThreshold);
    snd_pcm_sw_params_get_avail_min(params, &d->availMin);
    snd_pcm_sw_params_get_boundary(params, &d->boundary);
    if (d->availMin == 0) d->availMin = 1;
    return 0;
}

// Readable once avail_min frames wait; an error once the stream has stopped
// on an overrun, as a sound card's poll reports it. While not ready, the
// descriptor is cleared and set again for when it will be; once ready, it
// stays readable until a read moves the reader on.
int PollRevents(snd_pcm_ioplug_t* io, struct pollfd*, unsigned int, unsigned short* revents) {
    RampDevice* d = DeviceOf(io);
    *revents = 0;
    if (!d->running) return 0;
    const std::uint64_t read = ReadFrames(d);
    const std::uint64_t behind = Captured(d) - read;
    if (d->overrun || (StopsOnOverrun(d) && behind >= d->stopThreshold)) {
        *revents = POLLIN | POLLERR;
    } else if (behind >= d->availMin) {
        *revents = POLLIN;
    } else {
        ArmWake(d, true, read);
    }
    return 0;
}

int Close(snd_pcm_ioplug_t* io) {
    RampDevice* d = DeviceOf(io);
    close(d->timer);
    delete d;
    return 0;
}

const snd_pcm_ioplug_callback_t kCallbacks = [] {
    snd_pcm_ioplug_callback_t c{};
    c.start = Start;
    c.stop = Stop;
    c.pointer = Pointer;
    c.transfer = Transfer;
    c.close = Close;
    c.hw_params = HwParams;
    c.sw_params = SwParams;
    c.prepare = Prepare;
    c.poll_revents = PollRevents;
    return c;
}();

// Reads the device's own settings; the others ("type", "comment", "hint")
// are ALSA's.
int ReadSettings(snd_config_t* conf, long& ringMs, long& periodMs, long& speed) {
    snd_config_iterator_t i = nullptr;
    snd_config_iterator_t next = nullptr;
    snd_config_for_each(i, next, conf) {
        snd_config_t* entry = snd_config_iterator_entry(i);
        const char* id = nullptr;
        if (snd_config_get_id(entry, &id) < 0) continue;
        if (std::strcmp(id, "comment") == 0 || std::strcmp(id, "type") == 0 || std::strcmp(id, "hint") == 0) {
            continue;
        }
        if (std::strcmp(id, "speed") == 0) {
            if (snd_config_get_integer(entry, &speed) < 0 || speed < 0 || speed > 1'000'000) {
                SNDERR("speed must be a multiple of real time, or 0 for as fast as read");
                return -EINVAL;
            }
            continue;
        }
        long* target = std::strcmp(id, "ring_ms") == 0 ? &ringMs : std::strcmp(id, "period_ms") == 0 ? &periodMs : nullptr;
        if (target == nullptr) {
            SNDERR("Unknown field %s", id);
            return -EINVAL;
        }
        if (snd_config_get_integer(entry, target) < 0 || *target <= 0 || *target > 60'000) {
            SNDERR("%s must be a number of milliseconds", id);
            return -EINVAL;
        }
    }
    if (ringMs % periodMs != 0 || ringMs / periodMs < 2) {
        SNDERR("ring_ms must be a multiple of period_ms, at least two periods");
        return -EINVAL;
    }
    return 0;
}

}  // namespace

extern "C" {

SND_PCM_PLUGIN_DEFINE_FUNC(tolvane_test_capture) {
    (void)root;
    if (stream != SND_PCM_STREAM_CAPTURE) {
        SNDERR("tolvane_test_capture is a capture device");
        return -EINVAL;
    }
    long ringMs = 250;
    long periodMs = 50;
    long speed = 1;
    const int settings = ReadSettings(conf, ringMs, periodMs, speed);
    if (settings < 0) return settings;

    auto* d = new (std::nothrow) RampDevice;
    if (d == nullptr) return -ENOMEM;
    d->ringFrames = static_cast<snd_pcm_uframes_t>(ringMs) * kRate / 1000;
    d->periodFrames = static_cast<snd_pcm_uframes_t>(periodMs) * kRate / 1000;
    d->speed = speed;
    d->timer = timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
    if (d->timer < 0) {
        const int error = -errno;
        delete d;
        return error;
    }
    d->io.version = SND_PCM_IOPLUG_VERSION;
    d->io.name = "Tolvane test capture device (clock-paced ramp)";
    d->io.callback = &kCallbacks;
    d->io.private_data = d;
    d->io.poll_fd = d->timer;
    d->io.poll_events = POLLIN;
    d->io.mmap_rw = 0;
    // Positions run up to ALSA's boundary, so a reader far behind still sees
    // how far.
    d->io.flags = SND_PCM_IOPLUG_FLAG_BOUNDARY_WA | SND_PCM_IOPLUG_FLAG_MONOTONIC;
    int err = snd_pcm_ioplug_create(&d->io, name, stream, mode);
    if (err < 0) {
        close(d->timer);
        delete d;
        return err;
    }
    // Until the software parameters arrive.
    d->boundary = static_cast<snd_pcm_uframes_t>(1) << 30;

    static const unsigned kAccess[] = {SND_PCM_ACCESS_RW_INTERLEAVED};
    static const unsigned kFormat[] = {SND_PCM_FORMAT_S16_LE};
    const auto ringBytes = static_cast<unsigned>(d->ringFrames * kFrameBytes);
    const auto periodBytes = static_cast<unsigned>(d->periodFrames * kFrameBytes);
    const auto periods = static_cast<unsigned>(d->ringFrames / d->periodFrames);
    if ((err = snd_pcm_ioplug_set_param_list(&d->io, SND_PCM_IOPLUG_HW_ACCESS, 1, kAccess)) < 0 ||
        (err = snd_pcm_ioplug_set_param_list(&d->io, SND_PCM_IOPLUG_HW_FORMAT, 1, kFormat)) < 0 ||
        (err = snd_pcm_ioplug_set_param_minmax(&d->io, SND_PCM_IOPLUG_HW_CHANNELS, 1, 1)) < 0 ||
        (err = snd_pcm_ioplug_set_param_minmax(&d->io, SND_PCM_IOPLUG_HW_RATE, kRate, kRate)) < 0 ||
        (err = snd_pcm_ioplug_set_param_minmax(&d->io, SND_PCM_IOPLUG_HW_BUFFER_BYTES, ringBytes, ringBytes)) < 0 ||
        (err = snd_pcm_ioplug_set_param_minmax(&d->io, SND_PCM_IOPLUG_HW_PERIOD_BYTES, periodBytes, periodBytes)) < 0 ||
        (err = snd_pcm_ioplug_set_param_minmax(&d->io, SND_PCM_IOPLUG_HW_PERIODS, periods, periods)) < 0) {
        snd_pcm_ioplug_delete(&d->io);  // calls Close
        return err;
    }
    *pcmp = d->io.pcm;
    return 0;
}

SND_PCM_PLUGIN_SYMBOL(tolvane_test_capture)

}  // extern "C"
