// ScriptProperty: one entry of a script tag's property list, a name and an automation value.
//
// The entry owns its VARIANT: it is cleared on destruction and before it is replaced. A copy
// duplicates the value with VariantCopy (a BSTR is duplicated, an interface gets a reference);
// a move takes the value over and leaves VT_EMPTY behind.
//
// Values that the script reader produces: VT_R8 (Number), VT_BOOL (Boolean), VT_BSTR (String),
// VT_EMPTY (anything else). The metadata writer adds VT_R8, VT_I4 and VT_BOOL.
#pragma once

#include <string>
#include <string_view>

#include "platform/Variant.h"

struct ScriptProperty {
    ScriptProperty() noexcept { VariantInit(&value); }
    // Copies `source` into the entry. Throws std::bad_alloc when the copy cannot be made; a
    // type that VariantCopy does not implement leaves VT_EMPTY (use Assign to learn of it).
    ScriptProperty(std::wstring_view propertyName, const VARIANT& source);
    ~ScriptProperty() { VariantClear(&value); }

    // Throws std::bad_alloc when the value cannot be copied.
    ScriptProperty(const ScriptProperty& other);
    ScriptProperty(ScriptProperty&& other) noexcept;
    ScriptProperty& operator=(const ScriptProperty& other);
    ScriptProperty& operator=(ScriptProperty&& other) noexcept;

    // Replaces the value with a copy of `source`. Returns VariantCopy's result; on failure the
    // value is VT_EMPTY.
    [[nodiscard]] HRESULT Assign(const VARIANT& source) noexcept;

    std::wstring name;
    VARIANT value;
};
