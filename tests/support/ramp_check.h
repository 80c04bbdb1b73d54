// The check that captured sound is the test sources' ramp, unbroken.
#pragma once

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <vector>

namespace tolvane::test {

// Holds when each sample is the one before it plus one (mod 65536), as the
// test sources play them: no gap, no repeat, no stale or reordered block.
// Otherwise names the first break.
template <typename Sample>
::testing::AssertionResult IsContiguousRamp(const std::vector<Sample>& samples) {
    for (std::size_t i = 1; i < samples.size(); ++i) {
        const auto before = static_cast<std::uint16_t>(samples[i - 1]);
        const auto now = static_cast<std::uint16_t>(samples[i]);
        if (static_cast<std::uint16_t>(before + 1) != now) {
            return ::testing::AssertionFailure()
                   << "sample " << i << " of " << samples.size() << " is " << now << " after " << before;
        }
    }
    return ::testing::AssertionSuccess() << samples.size() << " samples in one run";
}

}  // namespace tolvane::test
