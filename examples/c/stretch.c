/* Converts speech-8000.wav (16-bit mono, 8000 samples/s) in the current
 * directory into speech-1600.wav, labelled 1600 samples/s. */
#include <TolvaneWAVTimeStretch.h>

int main(void)
{
    /* Paths are UTF-16, whatever the system. */
    static const TolvanePathChar in[] = u"speech-8000.wav";
    static const TolvanePathChar out[] = u"speech-1600.wav";

    /* Prints one line on standard output: the success line, or which file
     * could not be opened, read or written. */
    int32_t result = WAVStrech(in, out);
    return result == RESULT_OK ? 0 : 1;
}
