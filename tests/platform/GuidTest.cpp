#include <gtest/gtest.h>

#include <cstring>
#include <cwchar>

#include "platform/Guid.h"

namespace {
constexpr GUID kStdFont = MakeGuid("0BE35203-8F91-11CE-9DE3-00AA004BB851");
constexpr GUID kFilled = {
    0xCCCCCCCC, 0xCCCC, 0xCCCC, {0xCC, 0xCC, 0xCC, 0xCC, 0xCC, 0xCC, 0xCC, 0xCC}};
}  // namespace

TEST(Guid, StringFromGUID2WritesBracedUpperCaseTextOnlyWhenItFits) {
    wchar_t text[50];
    EXPECT_EQ(StringFromGUID2(kStdFont, text, 50), 39);
    EXPECT_STREQ(text, L"{0BE35203-8F91-11CE-9DE3-00AA004BB851}");
    std::wmemset(text, L'#', 50);
    EXPECT_EQ(StringFromGUID2(kStdFont, text, 39), 39);
    EXPECT_EQ(text[38], L'\0');
    std::wmemset(text, L'#', 50);
    for (int capacity : {38, 30, 0, -1}) {
        EXPECT_EQ(StringFromGUID2(kStdFont, text, capacity), 0) << capacity;
        EXPECT_EQ(text[0], L'#') << "nothing written with capacity " << capacity;
    }
    EXPECT_EQ(StringFromGUID2(kStdFont, nullptr, 39), 0);
}

TEST(Guid, TextRoundTripsThroughCLSIDFromString) {
    const GUID samples[] = {GUID_NULL,
                            kStdFont,
                            {0xFFFFFFFF, 0xFFFF, 0xFFFF, {255, 255, 255, 255, 255, 255, 255, 255}}};
    for (const GUID& sample : samples) {
        wchar_t text[39];
        ASSERT_EQ(StringFromGUID2(sample, text, 39), 39);
        CLSID parsed = kFilled;
        EXPECT_EQ(CLSIDFromString(text, &parsed), S_OK);
        EXPECT_EQ(parsed, sample);
    }
}

TEST(Guid, CLSIDFromStringAcceptsOnlyTheExactBracedForm) {
    struct Case {
        const wchar_t* text;
        HRESULT expected;
    };
    const Case cases[] = {
        {L"{0be35203-8f91-11ce-9de3-00aa004bb851}", S_OK},               // lower case
        {L"{0BE35203-8F91-11CE-9DE3-00AA004BB851}", S_OK},               // upper case
        {L"", CO_E_CLASSSTRING},                                         // empty
        {L"0BE35203-8F91-11CE-9DE3-00AA004BB851", CO_E_CLASSSTRING},     // no braces
        {L"{0BE35203-8F91-11CE-9DE3-00AA004BB851}a", CO_E_CLASSSTRING},  // one character more
        {L"{0BE35203-8F91-11CE-9DE3-00AA004BB85}", CO_E_CLASSSTRING},    // one digit less
        {L"{0BE35203-8F91-11CE-9DE3-00AA004BB85G}", CO_E_CLASSSTRING},   // not a hex digit
        {L"{+BE35203-8F91-11CE-9DE3-00AA004BB851}", CO_E_CLASSSTRING},   // sign
        {L"{ BE35203-8F91-11CE-9DE3-00AA004BB851}", CO_E_CLASSSTRING},   // space
        {L"{0BE35203*8F91-11CE-9DE3-00AA004BB851}", CO_E_CLASSSTRING},   // separator
        {L"{0BE352038-F91-11CE-9DE3-00AA004BB851}", CO_E_CLASSSTRING},   // dash misplaced
        {L"(0BE35203-8F91-11CE-9DE3-00AA004BB851)", CO_E_CLASSSTRING},   // other brackets
        {L"StdFont", CO_E_CLASSSTRING},  // a ProgID is not looked up
    };
    for (const Case& c : cases) {
        CLSID clsid = kFilled;
        EXPECT_EQ(CLSIDFromString(c.text, &clsid), c.expected) << c.text;
        EXPECT_EQ(clsid, c.expected == S_OK ? kStdFont : kFilled) << c.text;
    }
}

TEST(Guid, NullTextIsTheNullGuidAndNullOutputIsRefused) {
    CLSID clsid = kFilled;
    EXPECT_EQ(CLSIDFromString(nullptr, &clsid), S_OK);
    EXPECT_EQ(clsid, GUID_NULL);
    IID iid = kFilled;
    EXPECT_EQ(IIDFromString(nullptr, &iid), S_OK);
    EXPECT_EQ(iid, GUID_NULL);
    EXPECT_EQ(CLSIDFromString(L"{0BE35203-8F91-11CE-9DE3-00AA004BB851}", nullptr), E_INVALIDARG);
    EXPECT_EQ(IIDFromString(L"{0BE35203-8F91-11CE-9DE3-00AA004BB851}", nullptr), E_INVALIDARG);
}

TEST(Guid, IIDFromStringTellsLengthFromFormatFailures) {
    struct Case {
        const wchar_t* text;
        HRESULT expected;
    };
    const Case cases[] = {
        {L"{0be35203-8f91-11ce-9de3-00aa004bb851}", S_OK},
        {L"{0BE35203-8F91-11CE-9DE3-00AA004BB851}a", E_INVALIDARG},  // wrong length
        {L"StdFont", E_INVALIDARG},
        {L"{0BE35203-8F91-11CE-9DE3-00AA004BB85G}", CO_E_IIDSTRING},  // right length, bad digit
        {L"X0BE35203-8F91-11CE-9DE3-00AA004BB851}", CO_E_IIDSTRING},  // no opening brace
    };
    for (const Case& c : cases) {
        IID iid = kFilled;
        EXPECT_EQ(IIDFromString(c.text, &iid), c.expected) << c.text;
        EXPECT_EQ(iid, c.expected == S_OK ? kStdFont : kFilled) << c.text;
    }
}

TEST(Guid, CompileTimeParseMatchesTheFieldLayout) {
    EXPECT_EQ(kStdFont.Data1, 0x0BE35203u);
    EXPECT_EQ(kStdFont.Data2, 0x8F91);
    EXPECT_EQ(kStdFont.Data3, 0x11CE);
    const BYTE tail[8] = {0x9D, 0xE3, 0x00, 0xAA, 0x00, 0x4B, 0xB8, 0x51};
    EXPECT_EQ(std::memcmp(kStdFont.Data4, tail, 8), 0);
}
