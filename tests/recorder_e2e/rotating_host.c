/* A host of the library that records into FILES files in turn, moving on
 * with SoundRecorderNextFile every MS milliseconds of its own clock, so
 * that each switch falls wherever the device happens to be in its second.
 * Prints each file's name and the seconds the library reported for it.
 *
 * Usage: rotating_host PREFIX FILES MS     (files PREFIX0.wav, PREFIX1.wav, ...)
 */
/* nanosleep, in a strict C build too. */
#define _POSIX_C_SOURCE 200809L

#include <TolvaneWAVTimeStretch.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

/* PREFIX, then the number and ".wav", as UTF-16 (ASCII in, so unit by unit). */
static int PathOf(const char* prefix, int number, char* name, size_t nameSize, TolvanePathChar* path) {
    const int length = snprintf(name, nameSize, "%s%d.wav", prefix, number);
    if (length < 0 || (size_t)length >= nameSize) return 0;
    for (int i = 0; i <= length; ++i) path[i] = (TolvanePathChar)(unsigned char)name[i];
    return 1;
}

static void SleepMs(long ms) {
    struct timespec pause = {ms / 1000, (ms % 1000) * 1000000L};
    while (nanosleep(&pause, &pause) != 0) {
    }
}

int main(int argc, char** argv) {
    const int files = argc == 4 ? atoi(argv[2]) : 0;
    const long ms = argc == 4 ? atol(argv[3]) : 0;
    if (files <= 0 || ms <= 0) {
        fprintf(stderr, "usage: %s PREFIX FILES MS\n", argv[0]);
        return 2;
    }
    char name[4096];
    char finishedName[4096];
    TolvanePathChar path[4096];
    if (!PathOf(argv[1], 0, name, sizeof name, path)) return 2;
    const int32_t started = SoundRecorderStart(path);
    if (started != RESULT_OK) {
        fprintf(stderr, "start: result %d\n", (int)started);
        return 1;
    }
    for (int n = 1; n < files; ++n) {
        SleepMs(ms);
        memcpy(finishedName, name, sizeof name);
        if (!PathOf(argv[1], n, name, sizeof name, path)) return 2;
        int32_t seconds = -1;
        const int32_t result = SoundRecorderNextFile(path, &seconds);
        if (result != RESULT_OK) {
            fprintf(stderr, "next file %s: result %d\n", name, (int)result);
            SoundRecorderStop();
            return 1;
        }
        printf("%s %d\n", finishedName, (int)seconds);
    }
    SleepMs(ms);
    printf("%s %d\n", name, (int)SoundRecorderStop());
    return 0;
}
