// BSTR layout (4-byte byte-length prefix, terminator), length limits and comparison.
#include <gtest/gtest.h>

#include <cstring>

#include "platform/Bstr.h"

TEST(Bstr, PrefixHoldsTheByteLengthZerosFollowAndHugeLengthsGiveNull) {
    const struct {
        const char* bytes;  // null: zeroed
        UINT length;
        UINT characters;  // whole OLECHARs
    } cases[] = {{"Tes", 3, 0}, {"TestX", 5, 1}, {nullptr, 6, 1}};
    for (const auto& c : cases) {
        Bstr text;
        text.Attach(SysAllocStringByteLen(c.bytes, c.length));
        ASSERT_TRUE(text) << c.length;
        DWORD prefix;
        std::memcpy(&prefix, reinterpret_cast<const char*>(text.Get()) - sizeof(DWORD), 4);
        EXPECT_EQ(prefix, c.length);
        EXPECT_EQ(SysStringLen(text.Get()), c.characters);
        const auto* raw = reinterpret_cast<const unsigned char*>(text.Get());
        EXPECT_EQ(c.bytes ? std::memcmp(raw, c.bytes, c.length) : 0, 0);
        const std::size_t end =
            (c.length + sizeof(OLECHAR) - 1) / sizeof(OLECHAR) * sizeof(OLECHAR) + sizeof(OLECHAR);
        for (std::size_t i = c.bytes ? c.length : 0; i < end; ++i)
            EXPECT_EQ(raw[i], 0) << c.length << " at " << i;
    }
    // Lengths that cannot be stored give null.
    EXPECT_EQ(SysAllocStringByteLen("x", 0x80000000u), nullptr);
    EXPECT_EQ(SysAllocStringLen(L"x", 0x20000000u), nullptr);  // 2 GiB of 4-byte characters
}

// Parameter names are matched with the user's locale and no flags: ordinal, whole length.
TEST(Bstr, VarBstrCmpIsOrdinalAndCountsEmbeddedZeros) {
    const Bstr lowerA(L"a"), upperA(L"A"), aZeroB(std::wstring_view(L"a\0b", 3));
    EXPECT_EQ(VarBstrCmp(lowerA.Get(), upperA.Get(), LOCALE_USER_DEFAULT, 0), VARCMP_GT);
    EXPECT_EQ(VarBstrCmp(lowerA.Get(), aZeroB.Get(), LOCALE_USER_DEFAULT, 0), VARCMP_LT);
}
