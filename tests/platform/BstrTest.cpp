#include <gtest/gtest.h>

#include <cstring>

#include "platform/Bstr.h"

namespace {
// The 4-byte length prefix in front of the characters.
DWORD Prefix(BSTR text) {
    DWORD bytes;
    std::memcpy(&bytes, reinterpret_cast<const char*>(text) - sizeof(DWORD), sizeof bytes);
    return bytes;
}

// A BSTR made of raw bytes, freed at the end of the scope.
Bstr FromBytes(const char* bytes, UINT length) {
    Bstr text;
    text.Attach(SysAllocStringByteLen(bytes, length));
    return text;
}
}  // namespace

TEST(Bstr, PrefixHoldsTheByteLengthAndATerminatorFollows) {
    Bstr text(L"Test");
    EXPECT_EQ(Prefix(text.Get()), 4 * sizeof(OLECHAR));
    EXPECT_EQ(SysStringLen(text.Get()), 4u);
    EXPECT_EQ(SysStringByteLen(text.Get()), 16u);
    EXPECT_EQ(text.Get()[4], L'\0');
}

TEST(Bstr, ByteLengthAllocationKeepsOddLengthsAndTerminates) {
    struct Case {
        const char* bytes;
        UINT length;
        UINT characters;  // whole OLECHARs
    };
    const Case cases[] = {
        {"Tes", 3, 0},      {"Test", 4, 1},  {"TestX", 5, 1},
        {"TestTest", 8, 2}, {nullptr, 0, 0}, {nullptr, 6, 1},
    };
    for (const Case& c : cases) {
        Bstr text = FromBytes(c.bytes, c.length);
        ASSERT_TRUE(text) << c.length;
        EXPECT_EQ(SysStringByteLen(text.Get()), c.length);
        EXPECT_EQ(SysStringLen(text.Get()), c.characters);
        const auto* raw = reinterpret_cast<const unsigned char*>(text.Get());
        if (c.bytes) {
            EXPECT_EQ(std::memcmp(raw, c.bytes, c.length), 0);
        }
        // Everything after the bytes up to and including the next whole terminator is zero.
        const std::size_t end =
            (c.length + sizeof(OLECHAR) - 1) / sizeof(OLECHAR) * sizeof(OLECHAR) + sizeof(OLECHAR);
        for (std::size_t i = c.bytes ? c.length : 0; i < end; ++i)
            EXPECT_EQ(raw[i], 0) << c.length << " at " << i;
    }
}

TEST(Bstr, LengthsThatCannotBeStoredGiveNull) {
    EXPECT_EQ(SysAllocStringByteLen("x", 0x80000000u), nullptr);
    EXPECT_EQ(SysAllocStringByteLen("x", 0xFFFFFFFFu), nullptr);
    EXPECT_EQ(SysAllocStringLen(L"x", 0x20000000u), nullptr);  // 2 GiB of 4-byte characters
    EXPECT_EQ(SysAllocStringLen(L"x", 0xFFFFFFFFu), nullptr);
}

TEST(Bstr, NullIsAnEmptyStringToEveryReader) {
    EXPECT_EQ(SysAllocString(nullptr), nullptr);
    EXPECT_EQ(SysStringLen(nullptr), 0u);
    EXPECT_EQ(SysStringByteLen(nullptr), 0u);
    SysFreeString(nullptr);
    Bstr zeroed;
    zeroed.Attach(SysAllocStringLen(nullptr, 3));
    ASSERT_TRUE(zeroed);
    EXPECT_EQ(zeroed.Length(), 3u);
    EXPECT_EQ(zeroed.View(), std::wstring_view(L"\0\0\0", 3));
    EXPECT_TRUE(Bstr().View().empty());
}

TEST(Bstr, ReAllocCopiesBeforeFreeingSoASourceInsideTheTargetWorks) {
    BSTR text = SysAllocString(L"prefix-rest");
    ASSERT_EQ(SysReAllocString(&text, text + 7), TRUE);
    EXPECT_STREQ(text, L"rest");
    EXPECT_EQ(SysStringLen(text), 4u);
    ASSERT_EQ(SysReAllocString(&text, nullptr), TRUE);
    EXPECT_EQ(text, nullptr);
    EXPECT_EQ(SysReAllocString(nullptr, L"x"), FALSE);
}

TEST(Bstr, CopiesKeepEmbeddedZerosAndOddByteLengths) {
    Bstr odd = FromBytes("abcdefg", 7);
    Bstr copy(odd);
    EXPECT_NE(copy.Get(), odd.Get());
    EXPECT_EQ(SysStringByteLen(copy.Get()), 7u);
    EXPECT_EQ(std::memcmp(copy.Get(), odd.Get(), 7), 0);
    Bstr embedded(std::wstring_view(L"a\0b", 3));
    EXPECT_EQ(Bstr(embedded).View(), std::wstring_view(L"a\0b", 3));
}

TEST(Bstr, VarBstrCmpTable) {
    const Bstr empty(L"");
    const Bstr wurscht(L"Wurscht");
    const Bstr lowerA(L"a");
    const Bstr upperA(L"A");
    const Bstr aZero(std::wstring_view(L"a\0", 2));
    const Bstr aZeroB(std::wstring_view(L"a\0b", 3));
    const Bstr zero(std::wstring_view(L"\0", 1));
    const Bstr umlautUpper(L"\u00C4RGER");
    const Bstr umlautLower(L"\u00E4rger");
    // Byte strings for the binary comparison of locale 0: {1,0,1} < {1,0,2}; {0,0} < {0,0,0}.
    const Bstr bytes101 = FromBytes("\x01\x00\x01", 3);
    const Bstr bytes102 = FromBytes("\x01\x00\x02", 3);
    const Bstr bytes00 = FromBytes("\x00\x00", 2);
    const Bstr bytes000 = FromBytes("\x00\x00\x00", 3);
    struct Case {
        BSTR left;
        BSTR right;
        LCID locale;
        ULONG flags;
        HRESULT expected;
    };
    const LCID user = LOCALE_USER_DEFAULT;
    const Case cases[] = {
        {nullptr, nullptr, user, 0, VARCMP_EQ},
        {wurscht.Get(), nullptr, user, 0, VARCMP_GT},
        {nullptr, wurscht.Get(), user, 0, VARCMP_LT},
        {empty.Get(), nullptr, user, 0, VARCMP_EQ},
        {nullptr, empty.Get(), user, 0, VARCMP_EQ},
        {wurscht.Get(), wurscht.Get(), user, 0, VARCMP_EQ},
        {lowerA.Get(), upperA.Get(), user, 0, VARCMP_GT},  // ordinal: 'A' sorts before 'a'
        {lowerA.Get(), upperA.Get(), user, NORM_IGNORECASE, VARCMP_EQ},
        {umlautUpper.Get(), umlautLower.Get(), user, NORM_IGNORECASE, VARCMP_EQ},  // beyond ASCII
        {umlautUpper.Get(), umlautLower.Get(), user, 0, VARCMP_LT},
        {lowerA.Get(), aZero.Get(), user, 0, VARCMP_LT},  // an embedded zero is a character
        {lowerA.Get(), aZeroB.Get(), user, 0, VARCMP_LT},
        {zero.Get(), empty.Get(), user, 0, VARCMP_GT},
        {empty.Get(), zero.Get(), user, 0, VARCMP_LT},
        {bytes000.Get(), bytes00.Get(), user, 0, VARCMP_EQ},  // no whole character in either
        {bytes101.Get(), bytes102.Get(), 0, 0, VARCMP_LT},    // locale 0: bytes
        {bytes000.Get(), bytes00.Get(), 0, 0, VARCMP_GT},
        {bytes00.Get(), empty.Get(), 0, 0, VARCMP_GT},
        {lowerA.Get(), upperA.Get(), 0, NORM_IGNORECASE, VARCMP_GT},  // flags play no part
    };
    int row = 0;
    for (const Case& c : cases) {
        EXPECT_EQ(VarBstrCmp(c.left, c.right, c.locale, c.flags), c.expected) << "row " << row;
        ++row;
    }
}
