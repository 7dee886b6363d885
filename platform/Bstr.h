// Automation strings. A BSTR points at its first character; the 4 bytes before it hold the
// string's length in bytes, and a terminator follows the characters, as on Windows. Here a
// character is a 4-byte wchar_t, so SysStringByteLen is 4 × SysStringLen for strings built
// from characters.
#pragma once

#include <string>
#include <string_view>
#include <utility>

#include "platform/Types.h"

extern "C" {
// A copy of the zero-terminated `text`; null in gives null out.
PLATFORM_API BSTR SysAllocString(const OLECHAR* text);
// `length` characters copied from `text`, or zeroed when `text` is null; null when out of memory.
PLATFORM_API BSTR SysAllocStringLen(const OLECHAR* text, UINT length);
// `length` bytes copied from `bytes` (zeroed when null), followed by a terminator.
PLATFORM_API BSTR SysAllocStringByteLen(const char* bytes, UINT length);
// Frees a BSTR; null is allowed.
PLATFORM_API void SysFreeString(BSTR text);
// Characters in the string (byte length / 4); 0 for null.
PLATFORM_API UINT SysStringLen(BSTR text);
// Bytes in the string, without the terminator; 0 for null.
PLATFORM_API UINT SysStringByteLen(BSTR text);
// Replaces *target with a copy of `text`; FALSE when out of memory (target unchanged).
PLATFORM_API INT SysReAllocString(BSTR* target, const OLECHAR* text);
// Compares two BSTRs; a null BSTR equals an empty one. Returns 0 (less), 1 (equal), 2 (greater),
// as VarBstrCmp does (VARCMP_LT, VARCMP_EQ, VARCMP_GT). `flags` may hold NORM_IGNORECASE.
PLATFORM_API HRESULT VarBstrCmp(BSTR left, BSTR right, LCID locale, ULONG flags);
}

constexpr HRESULT VARCMP_LT = 0;
constexpr HRESULT VARCMP_EQ = 1;
constexpr HRESULT VARCMP_GT = 2;
constexpr ULONG NORM_IGNORECASE = 0x00000001;
constexpr LCID LOCALE_USER_DEFAULT = 0x0400;
constexpr LCID LOCALE_SYSTEM_DEFAULT = 0x0800;

// Owner of one BSTR (our own code never holds a raw BSTR it must free).
class PLATFORM_API Bstr {
public:
    Bstr() noexcept = default;
    // Copies `text`; throws std::bad_alloc when the copy cannot be made.
    explicit Bstr(const OLECHAR* text);
    explicit Bstr(std::wstring_view text);
    Bstr(const Bstr& other);
    Bstr(Bstr&& other) noexcept : text_(std::exchange(other.text_, nullptr)) {}
    Bstr& operator=(Bstr other) noexcept {
        std::swap(text_, other.text_);
        return *this;
    }
    ~Bstr() { SysFreeString(text_); }

    BSTR Get() const noexcept { return text_; }
    // Frees what is held and returns the slot for an out parameter.
    BSTR* Put() noexcept {
        Reset();
        return &text_;
    }
    void Reset() noexcept { SysFreeString(std::exchange(text_, nullptr)); }
    void Attach(BSTR text) noexcept {
        Reset();
        text_ = text;
    }
    [[nodiscard]] BSTR Detach() noexcept { return std::exchange(text_, nullptr); }
    UINT Length() const noexcept { return SysStringLen(text_); }
    std::wstring_view View() const noexcept { return {text_ ? text_ : L"", Length()}; }
    explicit operator bool() const noexcept { return text_ != nullptr; }

private:
    BSTR text_ = nullptr;
};
