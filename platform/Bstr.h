// Automation strings: the system's BSTR calls (platform/System.h) and Bstr, the owner of one.
#pragma once

#include <string>
#include <string_view>
#include <utility>

#include "platform/Platform.h"
#include "platform/System.h"

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
