#include "platform/Bstr.h"

#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <cwctype>
#include <new>

namespace {
constexpr std::size_t kPrefixBytes = sizeof(DWORD);
// The largest byte length a BSTR can carry in its 32-bit prefix, less room for the terminator.
constexpr std::size_t kMaxBytes = 0xFFFFFFFFu - kPrefixBytes - sizeof(OLECHAR);

// Allocates prefix + `bytes` + a terminating OLECHAR, stores the byte count, and returns the
// address just after the prefix. The block is zeroed, so the terminator is in place.
BSTR AllocateBytes(std::size_t bytes) {
    if (bytes > kMaxBytes) return nullptr;
    // Round the character area up so that the terminator is a whole, aligned OLECHAR.
    const std::size_t characterArea = (bytes + sizeof(OLECHAR) - 1) / sizeof(OLECHAR) * sizeof(OLECHAR);
    auto* block = static_cast<unsigned char*>(std::calloc(1, kPrefixBytes + characterArea + sizeof(OLECHAR)));
    if (block == nullptr) return nullptr;
    const DWORD stored = static_cast<DWORD>(bytes);
    std::memcpy(block, &stored, sizeof stored);
    return reinterpret_cast<BSTR>(block + kPrefixBytes);
}
}  // namespace

BSTR SysAllocString(const OLECHAR* text) {
    if (text == nullptr) return nullptr;
    return SysAllocStringLen(text, static_cast<UINT>(std::wcslen(text)));
}

BSTR SysAllocStringLen(const OLECHAR* text, UINT length) {
    BSTR result = AllocateBytes(static_cast<std::size_t>(length) * sizeof(OLECHAR));
    if (result != nullptr && text != nullptr) std::memcpy(result, text, length * sizeof(OLECHAR));
    return result;
}

BSTR SysAllocStringByteLen(const char* bytes, UINT length) {
    BSTR result = AllocateBytes(length);
    if (result != nullptr && bytes != nullptr) std::memcpy(result, bytes, length);
    return result;
}

void SysFreeString(BSTR text) {
    if (text != nullptr) std::free(reinterpret_cast<unsigned char*>(text) - kPrefixBytes);
}

UINT SysStringByteLen(BSTR text) {
    if (text == nullptr) return 0;
    DWORD bytes;
    std::memcpy(&bytes, reinterpret_cast<unsigned char*>(text) - kPrefixBytes, sizeof bytes);
    return bytes;
}

UINT SysStringLen(BSTR text) { return SysStringByteLen(text) / sizeof(OLECHAR); }

INT SysReAllocString(BSTR* target, const OLECHAR* text) {
    if (target == nullptr) return FALSE;
    BSTR copy = SysAllocString(text);
    if (copy == nullptr && text != nullptr) return FALSE;
    SysFreeString(*target);
    *target = copy;
    return TRUE;
}

HRESULT VarBstrCmp(BSTR left, BSTR right, LCID /*locale*/, ULONG flags) {
    const UINT leftLength = SysStringLen(left);
    const UINT rightLength = SysStringLen(right);
    const UINT common = leftLength < rightLength ? leftLength : rightLength;
    for (UINT i = 0; i < common; ++i) {
        wint_t a = static_cast<wint_t>(left[i]);
        wint_t b = static_cast<wint_t>(right[i]);
        if (flags & NORM_IGNORECASE) {
            a = std::towlower(a);
            b = std::towlower(b);
        }
        if (a != b) return a < b ? VARCMP_LT : VARCMP_GT;
    }
    if (leftLength == rightLength) return VARCMP_EQ;
    return leftLength < rightLength ? VARCMP_LT : VARCMP_GT;
}

Bstr::Bstr(const OLECHAR* text) : text_(SysAllocString(text)) {
    if (text != nullptr && text_ == nullptr) throw std::bad_alloc();
}

Bstr::Bstr(std::wstring_view text)
    : text_(SysAllocStringLen(text.data(), static_cast<UINT>(text.size()))) {
    if (text_ == nullptr) throw std::bad_alloc();
}

Bstr::Bstr(const Bstr& other) {
    if (other.text_ != nullptr) {
        text_ = SysAllocStringByteLen(reinterpret_cast<const char*>(other.text_), SysStringByteLen(other.text_));
        if (text_ == nullptr) throw std::bad_alloc();
    }
}
