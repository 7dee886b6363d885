// BSTR layout (4-byte byte-length prefix, terminator), length limits and comparison.
#include <gtest/gtest.h>

#include <cstring>

#include "platform/Bstr.h"

namespace {
// A BSTR made of raw bytes, freed at the end of the scope.
Bstr FromBytes(const char* bytes, UINT length) {
    Bstr text;
    text.Attach(SysAllocStringByteLen(bytes, length));
    return text;
}
}  // namespace

TEST(Bstr, PrefixHoldsTheByteLengthZerosFollowAndHugeLengthsGiveNull) {
    const struct {
        const char* bytes;  // null: zeroed
        UINT length;
        UINT characters;  // whole OLECHARs
    } cases[] = {{"Tes", 3, 0}, {"TestX", 5, 1}, {"TestTest", 8, 2}, {nullptr, 6, 1}};
    for (const auto& c : cases) {
        Bstr text = FromBytes(c.bytes, c.length);
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
    EXPECT_EQ(SysAllocStringLen(L"x", 0xFFFFFFFFu), nullptr);
}

TEST(Bstr, VarBstrCmp) {
    const Bstr empty(L""), lowerA(L"a"), upperA(L"A"), aZeroB(std::wstring_view(L"a\0b", 3));
    const Bstr umlautUpper(L"\u00C4RGER"), umlautLower(L"\u00E4rger");
    const Bstr bytes101 = FromBytes("\x01\x00\x01", 3), bytes102 = FromBytes("\x01\x00\x02", 3);
    const LCID user = LOCALE_USER_DEFAULT;
    const struct {
        BSTR left, right;
        LCID locale;
        ULONG flags;
        HRESULT expected;
    } cases[] = {
        {nullptr, empty.Get(), user, 0, VARCMP_EQ},        // null is empty
        {lowerA.Get(), upperA.Get(), user, 0, VARCMP_GT},  // ordinal: 'A' sorts before 'a'
        {umlautUpper.Get(), umlautLower.Get(), user, NORM_IGNORECASE, VARCMP_EQ},  // beyond ASCII
        {lowerA.Get(), aZeroB.Get(), user, 0, VARCMP_LT},   // an embedded zero is a character
        {bytes101.Get(), bytes102.Get(), 0, 0, VARCMP_LT},  // locale 0: bytes
        {lowerA.Get(), upperA.Get(), 0, NORM_IGNORECASE, VARCMP_GT},  // flags play no part
    };
    for (const auto& c : cases)
        EXPECT_EQ(VarBstrCmp(c.left, c.right, c.locale, c.flags), c.expected) << &c - cases;
}
