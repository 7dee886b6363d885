#include "platform/posix/Bstr.h"

#include <locale.h>
#include <wctype.h>

#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <new>

namespace {
constexpr std::size_t kPrefixBytes = sizeof(DWORD);
// The largest byte length accepted: the prefix, the characters and the terminator stay below
// 2 GiB, so that a length never reads as negative (Windows refuses 0x80000000 and above too).
constexpr std::size_t kMaxBytes = 0x7FFFFFFFu - kPrefixBytes - sizeof(OLECHAR);

// Allocates prefix + `bytes` + a terminating OLECHAR, stores the byte count, and returns the
// address just after the prefix. The block is zeroed, so the terminator is in place.
BSTR AllocateBytes(std::size_t bytes) {
    if (bytes > kMaxBytes) return nullptr;
    // Round the character area up so that the terminator is a whole, aligned OLECHAR.
    const std::size_t characterArea =
        (bytes + sizeof(OLECHAR) - 1) / sizeof(OLECHAR) * sizeof(OLECHAR);
    auto* block =
        static_cast<unsigned char*>(std::calloc(1, kPrefixBytes + characterArea + sizeof(OLECHAR)));
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

UINT SysStringLen(BSTR text) {
    return SysStringByteLen(text) / sizeof(OLECHAR);
}

INT SysReAllocString(BSTR* target, const OLECHAR* text) {
    if (target == nullptr) return FALSE;
    BSTR copy = SysAllocString(text);
    if (copy == nullptr && text != nullptr) return FALSE;
    SysFreeString(*target);
    *target = copy;
    return TRUE;
}

namespace {
// Case folding by the Unicode simple mappings, whatever locale the process has chosen.
wint_t FoldCase(wint_t c) {
    static const locale_t unicode =
        ::newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(nullptr));
    if (unicode != static_cast<locale_t>(nullptr)) return ::towlower_l(c, unicode);
    return (c >= L'A' && c <= L'Z') ? c - L'A' + L'a' : c;
}

HRESULT CompareLengths(UINT left, UINT right) {
    return left == right ? VARCMP_EQ : (left < right ? VARCMP_LT : VARCMP_GT);
}
}  // namespace

HRESULT VarBstrCmp(BSTR left, BSTR right, LCID locale, ULONG flags) {
    if (locale == 0) {
        // Binary: the bytes, then the byte lengths; flags play no part.
        const UINT leftBytes = SysStringByteLen(left);
        const UINT rightBytes = SysStringByteLen(right);
        const UINT common = leftBytes < rightBytes ? leftBytes : rightBytes;
        const int order = common == 0 ? 0 : std::memcmp(left, right, common);
        if (order != 0) return order < 0 ? VARCMP_LT : VARCMP_GT;
        return CompareLengths(leftBytes, rightBytes);
    }
    const UINT leftLength = SysStringLen(left);
    const UINT rightLength = SysStringLen(right);
    const UINT common = leftLength < rightLength ? leftLength : rightLength;
    for (UINT i = 0; i < common; ++i) {
        wint_t a = static_cast<wint_t>(left[i]);
        wint_t b = static_cast<wint_t>(right[i]);
        if (flags & NORM_IGNORECASE) {
            a = FoldCase(a);
            b = FoldCase(b);
        }
        if (a != b) return a < b ? VARCMP_LT : VARCMP_GT;
    }
    return CompareLengths(leftLength, rightLength);
}
