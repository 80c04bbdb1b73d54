// The resampling kernel behind WAVStrech.
#pragma once

#include <stdint.h>

namespace tolvane {

// Writes exactly `destinationCount` samples (nothing when it is 0 or less):
// destination[i] = source[index] with index = (float)i * factor truncated,
// or 0 when that index is not below `sourceCount`.
void StretchBlock(const int16_t* source, int32_t sourceCount, int16_t* destination,
                  int32_t destinationCount, float factor);

}  // namespace tolvane
