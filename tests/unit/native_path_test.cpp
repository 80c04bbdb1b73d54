#include <gtest/gtest.h>

#include <string>

#include "platform/native_path.h"

namespace tolvane::platform {
namespace {

using U16 = std::u16string;

bool Convert(const U16& path, std::string& out) {
    NativePath native;
    const bool ok = ToNativePath(path.c_str(), native);
    out = native.name;
    return ok;
}

TEST(NativePath, EncodesEveryUtf16FormAsUtf8) {
    std::string out;
    // ASCII, two-byte (é), three-byte (中) and a surrogate pair (U+1F3B5).
    ASSERT_TRUE(Convert(u"a/\u00e9\u4e2d\U0001F3B5.wav", out));
    EXPECT_EQ(out, "a/\xc3\xa9\xe4\xb8\xad\xf0\x9f\x8e\xb5.wav");
}

TEST(NativePath, RefusesWhatNamesNoFile) {
    NativePath native;
    EXPECT_FALSE(ToNativePath(nullptr, native));
    EXPECT_FALSE(ToNativePath(u"", native));
    const char16_t loneHigh[] = {u'a', 0xD83C, u'b', 0};
    const char16_t highAtEnd[] = {u'a', 0xD83C, 0};
    const char16_t loneLow[] = {0xDFB5, u'a', 0};
    EXPECT_FALSE(ToNativePath(loneHigh, native));
    EXPECT_FALSE(ToNativePath(highAtEnd, native));
    EXPECT_FALSE(ToNativePath(loneLow, native));
}

TEST(NativePath, LengthIsMeasuredInEncodedBytes) {
    std::string out;
    EXPECT_TRUE(Convert(U16(kMaxNativePath - 1, u'x'), out));
    EXPECT_EQ(out.size(), kMaxNativePath - 1);
    EXPECT_FALSE(Convert(U16(kMaxNativePath, u'x'), out));
    // 1400 units of three bytes each: fits twice the unit count, not the bytes.
    EXPECT_FALSE(Convert(U16(1400, u'\u4e2d'), out));
    EXPECT_TRUE(Convert(U16(1365, u'\u4e2d'), out));
    EXPECT_EQ(out.size(), 4095u);
}

}  // namespace
}  // namespace tolvane::platform
