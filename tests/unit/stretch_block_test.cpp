#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "stretch/stretch_block.h"

namespace tolvane {
namespace {

std::vector<std::int16_t> Iota(int n) {
    std::vector<std::int16_t> v(static_cast<std::size_t>(n));
    for (int i = 0; i < n; ++i) v[static_cast<std::size_t>(i)] = static_cast<std::int16_t>(i);
    return v;
}

// Runs the kernel into a buffer guarded by sentinels on both sides.
std::vector<std::int16_t> Stretch(const std::vector<std::int16_t>& src, int dstCount, float factor,
                                  int room = -1) {
    const int size = room < 0 ? (dstCount > 0 ? dstCount : 0) : room;
    std::vector<std::int16_t> dst(static_cast<std::size_t>(size) + 2, std::int16_t{-7});
    StretchBlock(src.data(), static_cast<std::int32_t>(src.size()), dst.data() + 1, dstCount, factor);
    EXPECT_EQ(dst.front(), -7) << "wrote before the destination";
    EXPECT_EQ(dst.back(), -7) << "wrote past the destination";
    return std::vector<std::int16_t>(dst.begin() + 1, dst.end() - 1);
}

TEST(StretchBlock, FullBlockKeepsEveryFifthSample) {
    const auto out = Stretch(Iota(4096), 819, 5.0f);
    for (int j = 0; j < 819; ++j) ASSERT_EQ(out[static_cast<std::size_t>(j)], 5 * j);
    EXPECT_EQ(out.back(), 4090);
}

TEST(StretchBlock, IndicesPastTheSourceGiveSilence) {
    const auto out = Stretch(Iota(7), 4, 5.0f);
    EXPECT_EQ(out, (std::vector<std::int16_t>{0, 5, 0, 0}));
    EXPECT_EQ(Stretch({}, 3, 5.0f), (std::vector<std::int16_t>{0, 0, 0}));
}

TEST(StretchBlock, NonPositiveCountWritesNothing) {
    Stretch(Iota(10), 0, 5.0f, 4);
    Stretch(Iota(10), -3, 5.0f, 4);
    const auto untouched = Stretch(Iota(10), 0, 5.0f, 2);
    EXPECT_EQ(untouched, (std::vector<std::int16_t>{-7, -7}));
}

TEST(StretchBlock, OtherFactorsTruncateTheFloatProduct) {
    // 2.5: indices 0, 2, 5, 7, 10 (truncated)
    EXPECT_EQ(Stretch(Iota(11), 5, 2.5f), (std::vector<std::int16_t>{0, 2, 5, 7, 10}));
    // 0.4: indices 0, 0, 0, 1, 1
    EXPECT_EQ(Stretch(Iota(3), 5, 0.4f), (std::vector<std::int16_t>{0, 0, 0, 1, 1}));
}

TEST(StretchBlock, NegativeIndicesNeverReadOutsideTheSource) {
    EXPECT_EQ(Stretch(Iota(4), 3, -1.0f), (std::vector<std::int16_t>{0, 0, 0}));
}

TEST(StretchBlock, FastPathMatchesTheFloatRuleForLargeCounts) {
    // Beyond 2^24 / 5 outputs the float product is no longer exact.
    const int n = (1 << 24) / 5 + 100;
    std::vector<std::int16_t> src(static_cast<std::size_t>(5) * static_cast<std::size_t>(n));
    for (std::size_t i = 0; i < src.size(); ++i) src[i] = static_cast<std::int16_t>(i * 7919);
    const auto out = Stretch(src, n, 5.0f);
    for (int i = n - 200; i < n; ++i) {
        const auto index = static_cast<std::size_t>(static_cast<std::int32_t>(static_cast<float>(i) * 5.0f));
        ASSERT_EQ(out[static_cast<std::size_t>(i)], src[index]) << i;
    }
}

}  // namespace
}  // namespace tolvane
