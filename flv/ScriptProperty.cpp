#include "flv/ScriptProperty.h"

#include <new>
#include <utility>

namespace {
// Copies `source` into `target` (VT_EMPTY before), turning an allocation failure into
// std::bad_alloc. A type that cannot be copied at all leaves VT_EMPTY.
void CopyValue(VARIANT& target, const VARIANT& source) {
    // VariantCopy only reads its source (some SDKs declare it non-const).
    if (VariantCopy(&target, const_cast<VARIANT*>(&source)) == E_OUTOFMEMORY)
        throw std::bad_alloc();
}
}  // namespace

ScriptProperty::ScriptProperty(std::wstring_view propertyName, const VARIANT& source)
    : name(propertyName) {
    VariantInit(&value);
    CopyValue(value, source);
}

ScriptProperty::ScriptProperty(const ScriptProperty& other) : name(other.name) {
    VariantInit(&value);
    CopyValue(value, other.value);
}

ScriptProperty::ScriptProperty(ScriptProperty&& other) noexcept : name(std::move(other.name)) {
    // A VARIANT is plain data: copying its bits takes over what it owns.
    value = other.value;
    VariantInit(&other.value);
}

ScriptProperty& ScriptProperty::operator=(const ScriptProperty& other) {
    if (this != &other) {
        // Copy first, so that a failed copy leaves this entry as it was.
        ScriptProperty copy(other);
        *this = std::move(copy);
    }
    return *this;
}

ScriptProperty& ScriptProperty::operator=(ScriptProperty&& other) noexcept {
    if (this != &other) {
        name = std::move(other.name);
        VariantClear(&value);
        value = other.value;
        VariantInit(&other.value);
    }
    return *this;
}

HRESULT ScriptProperty::Assign(const VARIANT& source) noexcept {
    const HRESULT result = VariantCopy(&value, const_cast<VARIANT*>(&source));
    if (FAILED(result)) {
        VariantClear(&value);
        VariantInit(&value);
    }
    return result;
}
