#include "platform/Bstr.h"

#include <new>

Bstr::Bstr(const OLECHAR* text) : text_(SysAllocString(text)) {
    if (text != nullptr && text_ == nullptr) throw std::bad_alloc();
}

Bstr::Bstr(std::wstring_view text)
    : text_(SysAllocStringLen(text.data(), static_cast<UINT>(text.size()))) {
    if (text_ == nullptr) throw std::bad_alloc();
}

Bstr::Bstr(const Bstr& other) {
    if (other.text_ != nullptr) {
        text_ = SysAllocStringByteLen(reinterpret_cast<const char*>(other.text_),
                                      SysStringByteLen(other.text_));
        if (text_ == nullptr) throw std::bad_alloc();
    }
}
