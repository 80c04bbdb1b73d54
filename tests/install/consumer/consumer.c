/* A C program that uses the installed library: converting a missing file
 * must fail with the documented line and result. */
#include <TolvaneWAVTimeStretch.h>
#include <stdio.h>

int main(void) {
    static const TolvanePathChar missing[] = {'/', 'n', 'o', '-', 's', 'u', 'c', 'h', '.', 'w', 'a', 'v', 0};
    static const TolvanePathChar out[] = {'/', 't', 'm', 'p', '/', 'x', 0};
    int32_t result = WAVStrech(missing, out);
    return result == RESULT_STRETCH_FAILED ? 0 : 1;
}
