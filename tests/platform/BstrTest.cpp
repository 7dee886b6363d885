// BSTR layout (4-byte byte-length prefix, terminator), length limits and comparison.
#include <gtest/gtest.h>

#include <cstring>
#include <utility>

#include "platform/Bstr.h"

// Each string holds its bytes (or zeros, from null), then zeros up to and including a whole
// OLECHAR terminator; the prefix holds the byte length.
TEST(Bstr, PrefixHoldsTheByteLengthZerosFollowAndHugeLengthsGiveNull) {
    for (const auto& [bytes, length] :
         {std::pair<const char*, UINT>{"Tes", 3}, {"TestX", 5}, {nullptr, 6}}) {
        Bstr text;
        text.Attach(SysAllocStringByteLen(bytes, length));
        ASSERT_TRUE(text) << length;
        DWORD prefix;
        std::memcpy(&prefix, reinterpret_cast<const char*>(text.Get()) - sizeof(DWORD), 4);
        EXPECT_EQ(prefix, length);
        EXPECT_EQ(SysStringLen(text.Get()), length / sizeof(OLECHAR));  // whole OLECHARs
        const auto* raw = reinterpret_cast<const unsigned char*>(text.Get());
        EXPECT_EQ(bytes ? std::memcmp(raw, bytes, length) : 0, 0);
        const std::size_t end =
            (length + sizeof(OLECHAR) - 1) / sizeof(OLECHAR) * sizeof(OLECHAR) + sizeof(OLECHAR);
        for (std::size_t i = bytes ? length : 0; i < end; ++i)
            EXPECT_EQ(raw[i], 0) << length << " at " << i;
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
