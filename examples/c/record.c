/* Records the default audio input into take.wav until Enter is pressed,
 * then says how many whole seconds the file holds. */
#include <TolvaneWAVTimeStretch.h>
#include <stdio.h>

int main(void)
{
    static const TolvanePathChar take[] = u"take.wav";

    int32_t result = SoundRecorderStart(take);
    if (result != RESULT_OK) {
        /* 1 to 3: the device would not open, take the buffers or start
         * (take.wav is then a valid, empty WAV); 4: take.wav could not be
         * created. */
        fprintf(stderr, "the recording did not start (result %d)\n", (int)result);
        return 1;
    }
    /* The library appends each second to the file on a thread of its own. */
    puts("recording into take.wav; Enter stops it");
    fflush(stdout);
    int c;
    while ((c = getchar()) != '\n' && c != EOF) {
    }
    int32_t seconds = SoundRecorderStop(); /* as the file's header states */
    printf("take.wav holds %d s\n", (int)seconds);
    return 0;
}
