// GUID text forms: the braced form written only when it fits, and the parser's exact results.
#include <gtest/gtest.h>

#include <cwchar>
#include <utility>

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
    // Every bad text is CO_E_CLASSSTRING, and the out value is not written.
    const std::pair<const wchar_t*, HRESULT> cases[] = {
        {L"{0be35203-8f91-11ce-9de3-00aa004bb851}", S_OK},              // lower case
        {L"{0BE35203-8F91-11CE-9DE3-00AA004BB85G}", CO_E_CLASSSTRING},  // not hex
        {L"{+BE35203-8F91-11CE-9DE3-00AA004BB851}", CO_E_CLASSSTRING},  // sign
    };
    for (const auto& [input, expected] : cases) {
        CLSID clsid = kFilled;
        EXPECT_EQ(CLSIDFromString(input, &clsid), expected) << input;
        EXPECT_EQ(clsid, expected == S_OK ? kStdFont : kFilled) << input;
    }
}
