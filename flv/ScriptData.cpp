#include "flv/ScriptData.h"

#include <algorithm>
#include <limits>
#include <new>

#include "flv/ScriptDataValue.h"

namespace {
// Builds the VARIANT of a value read from a body; false when a string cannot be allocated.
bool ToVariant(const ScriptDataValue& source, VARIANT& target) {
    switch (source.type) {
        case kScriptNumber:
            target.vt = VT_R8;
            target.dblVal = source.number;
            return true;
        case kScriptBoolean:
            target.vt = VT_BOOL;
            target.boolVal = source.boolean != 0 ? VARIANT_TRUE : VARIANT_FALSE;
            return true;
        case kScriptString: {
            const std::wstring& text = source.string.text;
            const BSTR copy = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
            if (copy == nullptr) return false;
            target.vt = VT_BSTR;
            target.bstrVal = copy;
            return true;
        }
        default:
            target.vt = VT_EMPTY;
            return true;
    }
}

// Puts the cursor on `end`, the offset just after the body. SeekTo cannot reach the end of the
// file itself, which a body that is the file's last bytes ends on; stepping forward can.
void MoveTo(CInputStream& input, std::uint64_t end) {
    const std::uint64_t position = input.Tell();
    if (position == end) return;
    if (!input.SeekTo(end) && position < end) (void)input.SkipBytes(end - position);
}
}  // namespace

const std::wstring& CFLV_ScriptData::ObjectName() const noexcept {
    static const std::wstring kNoName;
    return objectName ? *objectName : kNoName;
}

std::unique_ptr<CFlashObject> CFLV_ScriptData::Clone() const {
    return std::make_unique<CFLV_ScriptData>(*this);
}

HRESULT CFLV_ScriptData::AddProperty(std::wstring_view name, const VARIANT& value) noexcept {
    try {
        ScriptProperty property;
        property.name.assign(name);
        const HRESULT copied = property.Assign(value);
        if (FAILED(copied)) return copied;
        properties.push_back(std::move(property));
        return S_OK;
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
}

ScriptDataObject CFLV_ScriptData::BuildObject() const {
    ScriptDataObject object;
    object.name.SetText(ObjectName());
    object.value.type = kScriptEcmaArray;
    object.value.variables.reserve(properties.size());
    for (const ScriptProperty& property : properties) {
        ScriptDataVariable& variable = object.value.variables.emplace_back();
        ScriptDataValue& value = variable.value;
        switch (property.value.vt) {
            case VT_I4:
                variable.name.SetText(property.name);
                value.type = kScriptNumber;
                value.number = property.value.lVal;
                break;
            case VT_R8:
                variable.name.SetText(property.name);
                value.type = kScriptNumber;
                value.number = property.value.dblVal;
                break;
            case VT_BOOL:
                variable.name.SetText(property.name);
                value.type = kScriptBoolean;
                value.boolean = property.value.boolVal == VARIANT_TRUE ? 1 : 0;
                break;
            default:
                // Other types have no AMF0 form here: an unnamed Undefined stands in.
                value.type = kScriptUndefined;
                break;
        }
    }
    return object;
}

std::uint32_t CFLV_ScriptData::GetDataSize() {
    try {
        const std::uint64_t size = BuildObject().GetWriteSize();
        return static_cast<std::uint32_t>(
            std::min<std::uint64_t>(size, std::numeric_limits<std::uint32_t>::max()));
    } catch (const std::bad_alloc&) {
        return 0;
    }
}

void CFLV_ScriptData::Write(COutputStream& output) {
    try {
        BuildObject().Write(output);
    } catch (const std::bad_alloc&) {
        output.MarkFailed();
    }
}

bool CFLV_ScriptData::TakeProperties(ScriptDataObject& object) {
    std::vector<ScriptDataVariable>& variables = object.value.variables;
    properties.clear();
    properties.reserve(variables.size());
    for (ScriptDataVariable& variable : variables) {
        ScriptProperty& property = properties.emplace_back();
        property.name = std::move(variable.name.text);
        if (!ToVariant(variable.value, property.value)) return false;
    }
    return true;
}

bool CFLV_ScriptData::Read(CInputStream& input) {
    lastReadError = ScriptDataError::kNone;
    try {
        const std::uint64_t start = input.Tell();
        const std::uint64_t end = start + DataSize;
        if (DataSize == 0) {
            properties.clear();
            return true;
        }
        ScriptDataReader reader(input, end);
        ScriptDataObject object;
        if (!object.Read(reader)) {
            lastReadError = reader.Error();
            return false;
        }
        objectName = std::move(object.name.text);
        if (!TakeProperties(object)) {
            lastReadError = ScriptDataError::kOutOfMemory;
            return false;
        }
        MoveTo(input, end);
        return true;
    } catch (...) {
        // Allocation failures are the only exceptions raised inside.
        lastReadError = ScriptDataError::kOutOfMemory;
        return false;
    }
}
