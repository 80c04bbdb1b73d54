// The resampling kernel behind WAVStrech.
#pragma once

#include <cstdint>

namespace tolvane {

// Writes exactly `destinationCount` samples (nothing when it is 0 or less):
// destination[i] = source[index] with index = (float)i * factor truncated,
// or 0 when that index is not below `sourceCount`.
void StretchBlock(const std::int16_t* source, std::int32_t sourceCount, std::int16_t* destination,
                  std::int32_t destinationCount, float factor);

}  // namespace tolvane
