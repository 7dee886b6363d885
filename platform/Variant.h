// Automation variants: the system's VARIANT and its calls (platform/System.h) and Variant, the
// owner of one.
#pragma once

#include "platform/Bstr.h"

// Owner of one VARIANT, cleared on destruction.
class Variant {
  public:
    Variant() noexcept { VariantInit(&value_); }
    ~Variant() { VariantClear(&value_); }
    Variant(const Variant&) = delete;
    Variant& operator=(const Variant&) = delete;

    VARIANT* Get() noexcept { return &value_; }
    const VARIANT* Get() const noexcept { return &value_; }
    VARIANT* operator->() noexcept { return &value_; }
    const VARIANT* operator->() const noexcept { return &value_; }
    // VariantCopy only reads its source (some SDKs declare it non-const).
    HRESULT CopyFrom(const VARIANT* source) noexcept {
        return VariantCopy(&value_, const_cast<VARIANT*>(source));
    }
    void Clear() noexcept { VariantClear(&value_); }

  private:
    VARIANT value_;
};
