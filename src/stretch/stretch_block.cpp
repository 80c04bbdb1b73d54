#include "stretch/stretch_block.h"

namespace tolvane {
namespace {

// Below 2^24 every integer is a float, so (float)i * 5.0f is exactly 5 * i and
// the integer path gives the same indices as the float one.
constexpr int32_t kExactFloatLimit = 1 << 24;

}  // namespace

void StretchBlock(const int16_t* source, int32_t sourceCount, int16_t* destination,
                  int32_t destinationCount, float factor) {
    if (destinationCount <= 0) {
        return;
    }
    if (factor == 5.0f && destinationCount <= kExactFloatLimit / 5) {
        // The converter's only factor: plain integer strides, which the
        // compiler can keep in registers without float conversions.
        int32_t i = 0;
        const int32_t inRange = sourceCount > 0 ? (sourceCount - 1) / 5 + 1 : 0;
        const int32_t copied = inRange < destinationCount ? inRange : destinationCount;
        for (; i < copied; ++i) {
            destination[i] = source[5 * i];
        }
        for (; i < destinationCount; ++i) {
            destination[i] = 0;
        }
        return;
    }
    for (int32_t i = 0; i < destinationCount; ++i) {
        const float scaled = static_cast<float>(i) * factor;
        // Truncation of a float outside int range is undefined; such an index
        // is out of the source in any case.
        const bool representable = scaled > -2147483648.0f && scaled < 2147483648.0f;
        const int32_t index = representable ? static_cast<int32_t>(scaled) : -1;
        destination[i] = (index >= 0 && index < sourceCount) ? source[index] : int16_t{0};
    }
}

}  // namespace tolvane
