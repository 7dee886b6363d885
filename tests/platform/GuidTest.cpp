// GUID text forms: the braced form written only when it fits, and the parsers' exact results.
#include <gtest/gtest.h>

#include <cwchar>

#include "platform/Guid.h"

namespace {
constexpr GUID kStdFont = MakeGuid("0BE35203-8F91-11CE-9DE3-00AA004BB851");
constexpr GUID kFilled = {
    0xCCCCCCCC, 0xCCCC, 0xCCCC, {0xCC, 0xCC, 0xCC, 0xCC, 0xCC, 0xCC, 0xCC, 0xCC}};
}  // namespace

TEST(Guid, TextIsWrittenOnlyWhenItFitsAndParsersAcceptOnlyTheExactBracedForm) {
    wchar_t text[50];
    std::wmemset(text, L'#', 50);
    EXPECT_EQ(StringFromGUID2(kStdFont, text, 38), 0);  // 39 with the terminator
    EXPECT_EQ(text[0], L'#') << "nothing written without room";
    EXPECT_EQ(StringFromGUID2(kStdFont, text, 39), 39);
    EXPECT_STREQ(text, L"{0BE35203-8F91-11CE-9DE3-00AA004BB851}");
    // CLSIDFromString says CO_E_CLASSSTRING for every bad text; IIDFromString tells a wrong
    // length (E_INVALIDARG) from a bad text of the right length (CO_E_IIDSTRING). Neither
    // writes its out value on failure.
    const struct {
        const wchar_t* text;
        HRESULT clsid, iid;
    } cases[] = {
        {L"{0be35203-8f91-11ce-9de3-00aa004bb851}", S_OK, S_OK},                       // lower case
        {L"{0BE35203-8F91-11CE-9DE3-00AA004BB851}a", CO_E_CLASSSTRING, E_INVALIDARG},  // trailing
        {L"{0BE35203-8F91-11CE-9DE3-00AA004BB85G}", CO_E_CLASSSTRING, CO_E_IIDSTRING},  // not hex
        {L"{+BE35203-8F91-11CE-9DE3-00AA004BB851}", CO_E_CLASSSTRING, CO_E_IIDSTRING},  // sign
    };
    for (const auto& c : cases) {
        CLSID clsid = kFilled;
        IID iid = kFilled;
        EXPECT_EQ(CLSIDFromString(c.text, &clsid), c.clsid) << c.text;
        EXPECT_EQ(IIDFromString(c.text, &iid), c.iid) << c.text;
        EXPECT_EQ(clsid, c.clsid == S_OK ? kStdFont : kFilled) << c.text;
        EXPECT_EQ(iid, c.iid == S_OK ? kStdFont : kFilled) << c.text;
    }
}
