// CFLV_ScriptData: the body of a script tag (TagType 18): one named AMF0 value, in practice
// "onMetaData" holding an ECMA array of properties.
//
// Reading keeps the body flat: the object's name and, when its value is an ECMA array, the
// array's top-level named values as a list of ScriptProperty entries (Number -> VT_R8,
// Boolean -> VT_BOOL, String -> VT_BSTR, anything else -> VT_EMPTY), in file order. Nested
// values are parsed (see ScriptDataValue.h) but not kept.
//
// Body layout as written:
//   UI8 2                  String marker of the name
//   UI16 n, n bytes        the name
//   UI8 8                  ECMA array marker
//   UI32 count             number of properties
//   per property           UI16 length + name, then the value: VT_I4 and VT_R8 as Number,
//                          VT_BOOL as Boolean (1 for VARIANT_TRUE, else 0); any other type as
//                          an Undefined value (marker 6) with an empty name
// No object end marker is written: readers go by the count and by the tag's DataSize.
//
// The owner (the tag wrapper) sets DataSize to the tag's DataSize before Read. Read never takes
// a byte beyond the body and always leaves the cursor at the body's end on success, whatever
// the body holds after its first object.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "flv/FlashObject.h"
#include "flv/ScriptDataReader.h"
#include "flv/ScriptProperty.h"

struct ScriptDataObject;

class CFLV_ScriptData final : public CFlashObject {
  public:
    CFLV_ScriptData() = default;
    CFLV_ScriptData(const CFLV_ScriptData&) = default;

    const wchar_t* GetName() const override { return L"Script Data"; }
    // Same DataSize, name and properties (values copied with VariantCopy). Throws
    // std::bad_alloc when out of memory.
    std::unique_ptr<CFlashObject> Clone() const override;
    // Bytes that Write emits (0 if the body cannot be built for lack of memory).
    std::uint32_t GetDataSize() override;
    // Appends the body built from the name and the properties. When memory runs out the
    // stream is marked failed.
    void Write(COutputStream& output) override;
    // Reads the body of DataSize bytes at the cursor:
    //  - the object (marker byte, unchecked; name; value). If it cannot be read (a field past
    //    the body's end, nesting deeper than ScriptDataReader::kMaxDepth, too many values),
    //    Read fails and the name and properties are left as they were.
    //  - the name and the property list are replaced. A value that cannot be built (out of
    //    memory) fails Read with the entries built so far kept.
    //  - the cursor is moved to the body's end.
    // An empty body (DataSize 0) holds nothing: Read succeeds, empties the properties and
    // leaves the name. Nothing escapes; LastReadError tells why a Read failed.
    [[nodiscard]] bool Read(CInputStream& input) override;
    [[nodiscard]] bool Scan(CInputStream& input) override { return Read(input); }

    // The script object's name ("onMetaData"). Null (HasObjectName false, ObjectName empty)
    // until read or set.
    bool HasObjectName() const noexcept { return objectName.has_value(); }
    const std::wstring& ObjectName() const noexcept;
    void SetObjectName(std::wstring_view name) { objectName.emplace(name); }

    // The property list in file (or writing) order. Entries may be edited in place.
    std::vector<ScriptProperty>& Properties() noexcept { return properties; }
    const std::vector<ScriptProperty>& Properties() const noexcept { return properties; }
    // Appends a copy of `value` under `name`. Returns VariantCopy's failure (E_OUTOFMEMORY,
    // DISP_E_BADVARTYPE) without appending anything, or E_OUTOFMEMORY when the list cannot
    // grow; S_OK otherwise.
    [[nodiscard]] HRESULT AddProperty(std::wstring_view name, const VARIANT& value) noexcept;

    // Why the last Read failed; kNone after a successful one.
    ScriptDataError LastReadError() const noexcept { return lastReadError; }

  private:
    // The AMF0 tree that Write emits.
    ScriptDataObject BuildObject() const;
    // Replaces the properties with the object's top-level variables; false when out of memory.
    bool TakeProperties(ScriptDataObject& object);

    std::optional<std::wstring> objectName;
    std::vector<ScriptProperty> properties;
    ScriptDataError lastReadError = ScriptDataError::kNone;
};
