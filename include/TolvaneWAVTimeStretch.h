/*
 * TolvaneWAVTimeStretch: time-stretch and record 16-bit mono PCM WAV files.
 *
 * This header is the library's manual. It declares the library's only four
 * functions, all with C linkage and undecorated names, and usable from C and
 * C++ alike:
 *
 *   WAVStrech              convert an 8000 Hz WAV into a 1600 Hz WAV
 *   SoundRecorderStart     start recording the default audio input into a WAV
 *   SoundRecorderStop      stop the recording and report the seconds recorded
 *   SoundRecorderNextFile  go on recording into a new file, without a gap
 *
 * On Windows their ordinals are 1 to 4, in this order, for good.
 *
 * Every file the library writes is a canonical 44-byte-header PCM WAV:
 * "RIFF", size, "WAVE", a 16-byte "fmt " chunk (PCM, 1 channel, 16 bits),
 * then "data" with the samples directly behind it, all integers little-endian.
 *
 * Paths are zero-terminated UTF-16 strings (see TolvanePathChar). Results are
 * 32-bit signed integers; RESULT_OK (999) means success. No function throws or
 * sets errno-like state of its own.
 *
 * The library needs nothing but the C runtime and the operating system: on
 * Linux the C library (ALSA is loaded only when a recording starts), on
 * Windows KERNEL32, msvcrt and WINMM, for x64, x86, ARM64 and ARMv7.
 */
#ifndef TOLVANE_WAV_TIME_STRETCH_H
#define TOLVANE_WAV_TIME_STRETCH_H

#include <stdint.h>

#if defined(_WIN32)
#  include <wchar.h>
/* On Windows a path is the system's own wide-character string. */
typedef wchar_t TolvanePathChar;
#elif defined(__cplusplus)
/* Elsewhere a path is UTF-16 in char16_t units (uint_least16_t in C). */
typedef char16_t TolvanePathChar;
#else
#  include <uchar.h>
typedef char16_t TolvanePathChar;
#endif

#if defined(_WIN32)
   /* Exports come from the module-definition file; importing needs nothing. */
#  define TOLVANE_API
#elif defined(__GNUC__)
#  define TOLVANE_API __attribute__((visibility("default")))
#else
#  define TOLVANE_API
#endif

/*
 * Calling convention: the C one (cdecl) on every platform. It matters on
 * 32-bit x86 Windows, where it is part of the ABI: the caller pushes the
 * arguments right to left and removes them again, and the names carry no
 * "@N" suffix. A host that declares the functions itself must say cdecl there
 * (C#: CallingConvention.Cdecl; .NET's default for P/Invoke on Windows is
 * stdcall, which leaves the stack unbalanced after every call). Stating it
 * here keeps these declarations right in hosts compiled with another default
 * (MSVC's /Gz or /Gr). Elsewhere there is only one convention.
 */
#if defined(_WIN32)
#  define TOLVANE_CALL __cdecl
#else
#  define TOLVANE_CALL
#endif

/* Result codes. */
#define RESULT_OK 999 /* success */

/* WAVStrech: the input or output could not be opened, read or written. */
#define RESULT_STRETCH_FAILED 1

/* SoundRecorderStart: no capture device accepts 8000 Hz, 16-bit, mono, or a
 * recording is already running in this process. */
#define RESULT_RECORDER_OPEN_FAILED 1
/* SoundRecorderStart: the device would not take a capture buffer. */
#define RESULT_RECORDER_QUEUE_FAILED 2
/* SoundRecorderStart: the device would not start capturing. */
#define RESULT_RECORDER_START_FAILED 3
/* SoundRecorderStart, SoundRecorderNextFile: the output file could not be
 * created, written or made durable. */
#define RESULT_RECORDER_FILE_FAILED 4
/* SoundRecorderNextFile: no recording is running. */
#define RESULT_RECORDER_NOT_RECORDING 5

#ifdef __cplusplus
extern "C" {
#endif

/*
 * WAVStrech() :
 *   Reads `inputPath`, a 16-bit mono PCM WAV taken to be 8000 samples/s, and
 *   writes `outputPath`, a WAV labelled 1600 samples/s holding every fifth
 *   sample of each 4096-sample block of the input. The selection restarts at
 *   every block: of a full block samples 0, 5, ..., 4090 are kept (819 of
 *   them), so across a block boundary kept samples lie 6 apart. A final
 *   partial block of n samples gives n/5 (rounded down) samples.
 *
 *   The input's header is not validated: samples are taken from byte 44 on,
 *   as they lie, whatever its format fields say; a final odd byte is dropped.
 *   The output header always states exactly the samples that follow it.
 *
 *   inputPath, outputPath : zero-terminated UTF-16 paths. A null pointer, an
 *                           unpaired surrogate or a path longer than the
 *                           system allows counts as a file that cannot be
 *                           opened.
 *
 *   Prints exactly one line on standard output:
 *     "Failed to open input file.\n"   input missing, unreadable or a
 *                                      directory; no output is created.
 *     "Failed to open output file.\n"  output cannot be created, or names the
 *                                      same file as the input (refused before
 *                                      anything is truncated).
 *     "Failed to read input file.\n"   reading the input failed part way.
 *     "Failed to write output file.\n" writing, flushing or closing the output
 *                                      failed, or its header could not be
 *                                      made exact (an unseekable output whose
 *                                      size was not known in advance).
 *     "Time stretch effect applied and saved to output.wav\n"
 *                                      success (the name is fixed text, not
 *                                      the output path).
 *   On a read or write failure the incomplete output is removed if it is a
 *   regular file that this call created (also where a link led) or that
 *   `outputPath` names itself; a link is never removed, nor anything else.
 *   The output is not synced to storage: after a power cut, convert again.
 *
 *   Returns : RESULT_OK (999) when the output has been written completely,
 *             RESULT_STRETCH_FAILED (1) on any failure above.
 *
 *   Threads : safe to call from several threads at once and while a recording
 *             runs; it keeps no state between calls, allocates nothing on the
 *             heap and uses under 96 KiB of the caller's stack.
 */
TOLVANE_API int32_t TOLVANE_CALL WAVStrech(const TolvanePathChar* inputPath,
                                           const TolvanePathChar* outputPath);

/*
 * SoundRecorderStart() :
 *   Creates (or truncates) `outputPath` and starts recording the default
 *   audio input at 8000 samples/s, 16-bit, mono. Each whole second captured is
 *   appended to the file by a thread of the library's own, made durable on
 *   storage, and only then counted in the header, which reaches storage with
 *   the next second's sync: storage is synced once a second. So the file is a
 *   valid WAV at every moment, even if the process dies or the power fails
 *   mid-recording.
 *
 *   Capture never waits for storage. The device fills ten one-second buffers in
 *   turn while a thread of the library's own writes and syncs the full ones, so
 *   storage may stall (flash reorganising itself, a slow card) for up to nine
 *   seconds without a sample being lost; the file then fills later than the
 *   seconds pass and catches up. Sound is lost only when storage stalls for
 *   longer than that, or when the process is kept from running for longer than
 *   the time it leaves itself to answer: on Linux the library sleeps until the
 *   device's ring is full but for one period, and no less than 100 ms (so on a
 *   board's quarter-second ring it wakes every 150 ms); where the system lets
 *   its capture thread run at a real-time priority and the device tells its
 *   position exactly, but for 10 ms (every 240 ms on that ring), to wake the
 *   processor as seldom as the ring allows.
 *   Lost sound leaves no gap marker: the seconds on either side are joined. The
 *   library does not report it; a host tells by its clock: from Start returning
 *   to Stop being called, a recording without loss saves that time in whole
 *   seconds less at most one second (the one in progress at Stop), a fraction of
 *   a second of capture latency and the drift between the device's clock and the
 *   host's. `tolvane record` judges so and reports loss.
 *
 *   A power cut loses the seconds not yet counted on storage: normally the
 *   last two or so (the second being captured, the one being written, and
 *   the one before it, which is on storage but whose header is not yet);
 *   while storage lags behind, every second still waiting in memory as well
 *   (up to ten). A process that dies loses only the seconds not yet written:
 *   the header the system holds counts every second on storage. It cannot
 *   lose the file (it is on
 *   storage, directory entry and all, once Start returns RESULT_OK), nor any
 *   earlier second (those kept are the first ones, in order, without gaps),
 *   nor leave a header that counts a second that is not there. Bytes of a
 *   second cut off part-written may follow the counted data, uncounted.
 *
 *   On Linux the default input is ALSA's "default" capture PCM, so the
 *   system's ALSA configuration (~/.asoundrc, /etc/asound.conf) decides what
 *   that is. ALSA itself (libasound.so.2) is loaded by the first recording
 *   that starts; where it is missing, Start returns
 *   RESULT_RECORDER_OPEN_FAILED as for a missing device. On Windows the
 *   input is the wave mapper.
 *
 *   outputPath : zero-terminated UTF-16 path.
 *
 *   Returns : RESULT_OK (999)                   recording;
 *             RESULT_RECORDER_OPEN_FAILED (1)   no device could be opened
 *                                               with 8000 Hz 16-bit mono (or
 *                                               no ALSA on Linux), or
 *                                               a recording already runs
 *                                               (that one is left untouched);
 *             RESULT_RECORDER_QUEUE_FAILED (2)  the buffer could not be queued;
 *             RESULT_RECORDER_START_FAILED (3)  the device would not start;
 *             RESULT_RECORDER_FILE_FAILED (4)   the file could not be created,
 *                                               or its first header could not
 *                                               be written or made durable
 *                                               with its directory entry; no
 *                                               device is opened.
 *   After 1, 2 or 3 (except for the busy case) the device is closed and the
 *   file is a valid WAV with no samples. Prints nothing.
 *
 *   Threads : Start and Stop must not be called at the same time from two
 *             threads. One recording at a time per process.
 */
TOLVANE_API int32_t TOLVANE_CALL SoundRecorderStart(const TolvanePathChar* outputPath);

/*
 * SoundRecorderStop() :
 *   Stops the device, writes every whole second captured before the call
 *   that is not in the file yet (waiting for storage if it lags behind), and
 *   closes the file, its final header on storage: Stop waits for the one
 *   sync that makes it durable. Only whole one-second blocks are ever in the
 *   file; a partly
 *   filled second is dropped. A second that could not be written or
 *   made durable (a full or failing disk) ends the file: it is not counted
 *   and nothing is appended after it.
 *
 *   Returns : the number of whole seconds in the file, exactly what its header
 *             states; 0 when no recording was running (then nothing is
 *             touched). Prints nothing.
 *
 *   Threads : as for SoundRecorderStart.
 */
TOLVANE_API int32_t TOLVANE_CALL SoundRecorderStop(void);

/*
 * SoundRecorderNextFile() :
 *   Moves the running recording into a new file without stopping the device:
 *   creates (or truncates) `nextPath` as Start does (a valid WAV with no
 *   samples, on storage with its directory entry), finishes the current file
 *   as Stop does, and from the next whole second on appends to the new one.
 *   No sample is lost or doubled at the switch: the last sample of the file
 *   left and the first of the new one are consecutive samples of the input.
 *
 *   Returns once the file left is finished: every whole second captured
 *   before the call (and any completed while `nextPath` was being created)
 *   is in it, its final header is written, and all of it is durable (waiting
 *   for storage if it lags behind). Capture goes on meanwhile and never waits
 *   for storage; the seconds it captures go to the new file. Each file starts
 *   clean: one that a failed write or the size limit ended is finished with
 *   the seconds it holds, and the new one takes seconds again.
 *
 *   nextPath        : zero-terminated UTF-16 path of the new file. The file
 *                     being recorded, by this or any other name, is refused
 *                     (result 4) and left untouched.
 *   finishedSeconds : where to store the whole seconds in the file left,
 *                     exactly what its header states, as Stop would return
 *                     them; 0 is stored on any other result. May be null.
 *
 *   Returns : RESULT_OK (999)                     the new file is recorded;
 *             RESULT_RECORDER_FILE_FAILED (4)     `nextPath` could not be
 *                                                 created or made durable,
 *                                                 or is the file being
 *                                                 recorded: nothing changes,
 *                                                 the recording goes on in
 *                                                 the current file;
 *             RESULT_RECORDER_NOT_RECORDING (5)   no recording is running:
 *                                                 nothing is touched.
 *   Prints nothing.
 *
 *   Threads : as for SoundRecorderStop: not at the same time as Start, Stop
 *             or another NextFile.
 */
TOLVANE_API int32_t TOLVANE_CALL SoundRecorderNextFile(const TolvanePathChar* nextPath,
                                                       int32_t* finishedSeconds);

#ifdef __cplusplus
} /* extern "C" */
#endif

#endif /* TOLVANE_WAV_TIME_STRETCH_H */
