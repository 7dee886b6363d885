#include "mediakit/MediaParams.h"

#include <algorithm>
#include <cstdint>
#include <limits>
#include <new>
#include <utility>

#include "mediakit/ParamsFile.h"
#include "mediakit/StreamBytes.h"
#include "platform/File.h"

namespace mediakit {
namespace {

// Flags bit of the object methods and of Merge: share the reference instead of copying.
constexpr LONG kShareObject = 1;

bool ValidKey(BSTR name, LONG sel) noexcept {
    return name != nullptr && sel >= -1;
}

// Conversions of a stored element to the type a getter asks for.
HRESULT Convert(const ParamValue& element, VARIANT_BOOL& out) noexcept {
    if (const auto* flag = std::get_if<VARIANT_BOOL>(&element)) {
        out = *flag;
    } else if (const auto* number = std::get_if<LONG>(&element)) {
        out = *number != 0 ? VARIANT_TRUE : VARIANT_FALSE;
    } else if (const auto* wide = std::get_if<ULONGLONG>(&element)) {
        out = *wide != 0 ? VARIANT_TRUE : VARIANT_FALSE;
    } else {
        return DISP_E_TYPEMISMATCH;
    }
    return S_OK;
}

HRESULT Convert(const ParamValue& element, LONG& out) noexcept {
    if (const auto* flag = std::get_if<VARIANT_BOOL>(&element)) {
        out = *flag != 0 ? 1 : 0;
    } else if (const auto* number = std::get_if<LONG>(&element)) {
        out = *number;
    } else if (const auto* wide = std::get_if<ULONGLONG>(&element)) {
        // Fits when the value, read as signed, is in LONG's range: the inverse of the
        // sign extension with which a long reads as an unsigned 64-bit value.
        const auto signedValue = static_cast<LONGLONG>(*wide);
        if (signedValue < std::numeric_limits<LONG>::min() ||
            signedValue > std::numeric_limits<LONG>::max()) {
            return DISP_E_OVERFLOW;
        }
        out = static_cast<LONG>(signedValue);
    } else {
        return DISP_E_TYPEMISMATCH;
    }
    return S_OK;
}

HRESULT Convert(const ParamValue& element, ULONGLONG& out) noexcept {
    if (const auto* flag = std::get_if<VARIANT_BOOL>(&element)) {
        out = *flag != 0 ? 1 : 0;
    } else if (const auto* number = std::get_if<LONG>(&element)) {
        out = static_cast<ULONGLONG>(static_cast<LONGLONG>(*number));
    } else if (const auto* wide = std::get_if<ULONGLONG>(&element)) {
        out = *wide;
    } else {
        return DISP_E_TYPEMISMATCH;
    }
    return S_OK;
}

HRESULT Convert(const ParamValue& element, double& out) noexcept {
    if (const auto* flag = std::get_if<VARIANT_BOOL>(&element)) {
        out = *flag != 0 ? 1.0 : 0.0;
    } else if (const auto* number = std::get_if<LONG>(&element)) {
        out = *number;
    } else if (const auto* wide = std::get_if<ULONGLONG>(&element)) {
        out = static_cast<double>(*wide);
    } else if (const auto* real = std::get_if<double>(&element)) {
        out = *real;
    } else {
        return DISP_E_TYPEMISMATCH;
    }
    return S_OK;
}

bool IsUnreadable(HRESULT hr) noexcept {
    return hr == kParamNotFound || hr == DISP_E_TYPEMISMATCH || hr == DISP_E_OVERFLOW;
}

// Turns a shared object into an independent copy where one can be made.
HRESULT MakeIndependent(ComPtr<IMediaParams>& params) {
    ParamList list;
    HRESULT hr = SnapshotParams(params.Get(), list);
    if (SUCCEEDED(hr)) hr = CopyParamsDeep(list, 0);
    if (SUCCEEDED(hr)) hr = CreateParams(std::move(list), params);
    return hr;
}
HRESULT MakeIndependent(ComPtr<IStream>& stream) {
    ComPtr<IStream> copy;
    const HRESULT hr = CopyStream(stream.Get(), copy);
    if (SUCCEEDED(hr)) stream = std::move(copy);
    return hr;
}
HRESULT MakeIndependent(ComPtr<IUnknown>&) {
    return S_OK;
}

// The object of an object element as IUnknown (its interface pointer, not yet its identity).
ComPtr<IUnknown> ObjectOf(const ParamValue& element) noexcept {
    if (const auto* params = std::get_if<ComPtr<IMediaParams>>(&element)) {
        return ComPtr<IUnknown>(params->Get());
    }
    if (const auto* stream = std::get_if<ComPtr<IStream>>(&element)) {
        return ComPtr<IUnknown>(stream->Get());
    }
    if (const auto* object = std::get_if<ComPtr<IUnknown>>(&element)) return *object;
    return nullptr;
}

// Reads `count` bytes from `stream` into `out`, growing it only as bytes arrive.
HRESULT ReadExactly(IStream* stream, std::uint64_t count, std::string& out) {
    constexpr std::uint64_t kChunk = 1u << 16;
    while (count > 0) {
        const auto want = static_cast<ULONG>(std::min(count, kChunk));
        const std::size_t used = out.size();
        out.resize(used + want);
        ULONG got = 0;
        const HRESULT hr = stream->Read(out.data() + used, want, &got);
        if (FAILED(hr)) return hr;
        if (got == 0 || got > want) return kParamsFileDamaged;  // ends early
        out.resize(used + got);
        count -= got;
    }
    return S_OK;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Content

ParamList MediaParams::Snapshot() const {
    std::lock_guard guard(lock_);
    return entries_;
}

void MediaParams::Adopt(ParamList&& list) noexcept {
    ReplaceContent(std::move(list));
}

void MediaParams::ReplaceContent(ParamList&& list) noexcept {
    ParamList old = std::move(list);
    {
        std::lock_guard guard(lock_);
        entries_.swap(old);
    }
    // `old` (the previous content) is released here, outside the lock.
}

const ParamEntry* MediaParams::FindEntry(std::wstring_view name) const noexcept {
    for (const ParamEntry& entry : entries_) {
        if (entry.name == name) return &entry;
    }
    return nullptr;
}

ParamEntry* MediaParams::FindEntry(std::wstring_view name) noexcept {
    return const_cast<ParamEntry*>(std::as_const(*this).FindEntry(name));
}

HRESULT MediaParams::FindElement(BSTR name, LONG sel, const ParamValue*& element) const noexcept {
    if (!ValidKey(name, sel)) return E_INVALIDARG;
    const ParamEntry* entry = FindEntry(name);
    if (entry == nullptr) return kParamNotFound;
    const std::size_t index = sel == -1 ? 0 : static_cast<std::size_t>(sel);
    if (index >= entry->values.size()) return kParamNotFound;
    element = &entry->values[index];
    return S_OK;
}

template <class T>
HRESULT MediaParams::ReadScalar(BSTR name, LONG sel, T* value) const noexcept {
    if (value == nullptr) return E_POINTER;
    std::lock_guard guard(lock_);
    const ParamValue* element = nullptr;
    HRESULT hr = FindElement(name, sel, element);
    if (FAILED(hr)) return hr;
    T converted{};
    hr = Convert(*element, converted);
    if (SUCCEEDED(hr)) *value = converted;
    return hr;
}

template <class T>
HRESULT MediaParams::ReadScalarDef(BSTR name, LONG sel, T fallback, T* value) const noexcept {
    const HRESULT hr = ReadScalar(name, sel, value);
    if (!IsUnreadable(hr)) return hr;
    *value = fallback;
    return S_OK;
}

HRESULT MediaParams::ReadObject(BSTR name, LONG sel, ComPtr<IUnknown>& object) const noexcept {
    std::lock_guard guard(lock_);
    const ParamValue* element = nullptr;
    const HRESULT hr = FindElement(name, sel, element);
    if (FAILED(hr)) return hr;
    object = ObjectOf(*element);
    return object ? S_OK : DISP_E_TYPEMISMATCH;
}

template <class Interface>
HRESULT MediaParams::ReadObjectAs(BSTR name, LONG sel, LONG flags,
                                  Interface** value) const noexcept {
    if (value == nullptr) return E_POINTER;
    try {
        ComPtr<IUnknown> object;
        HRESULT hr = ReadObject(name, sel, object);
        if (FAILED(hr)) return hr;
        ComPtr<Interface> typed;
        if (FAILED(object.As(typed))) return DISP_E_TYPEMISMATCH;
        if ((flags & kShareObject) == 0) {
            hr = MakeIndependent(typed);
            if (FAILED(hr)) return hr;
        }
        *value = typed.Detach();
        return S_OK;
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
}

HRESULT MediaParams::Store(BSTR name, LONG sel, ParamValue& value) {
    if (!ValidKey(name, sel)) return E_INVALIDARG;
    std::lock_guard guard(lock_);
    ParamEntry* entry = FindEntry(name);
    if (entry == nullptr) {
        if (sel > 0) return E_INVALIDARG;
        ParamEntry created{std::wstring(name), {}};
        created.values.push_back(std::move(value));
        entries_.push_back(std::move(created));
        return S_OK;
    }
    std::vector<ParamValue>& values = entry->values;
    const std::size_t index = sel == -1 ? values.size() : static_cast<std::size_t>(sel);
    if (index < values.size()) {
        std::swap(values[index], value);
    } else if (index == values.size()) {
        values.push_back(std::move(value));
    } else {
        return E_INVALIDARG;
    }
    return S_OK;
}

// `value` receives the replaced element and releases it on return, outside the lock.
HRESULT MediaParams::StoreValue(BSTR name, LONG sel, ParamValue value) noexcept {
    try {
        return Store(name, sel, value);
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
}

template <class Interface>
HRESULT MediaParams::StoreObject(BSTR name, LONG sel, LONG flags, Interface* value) noexcept {
    if (value == nullptr) return E_POINTER;
    if (!ValidKey(name, sel)) return E_INVALIDARG;
    try {
        ComPtr<Interface> stored(value);
        if ((flags & kShareObject) == 0) {
            const HRESULT hr = MakeIndependent(stored);
            if (FAILED(hr)) return hr;
        }
        return StoreValue(name, sel,
                          ParamValue(std::in_place_type<ComPtr<Interface>>, std::move(stored)));
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
}

// ---------------------------------------------------------------------------------------------
// Whole-container methods

HRESULT MediaParams::GetVersion(LONG* version) {
    if (version == nullptr) return E_POINTER;
    *version = kParamsFileVersion;
    return S_OK;
}

HRESULT MediaParams::SaveToFile(BSTR path) {
    if (path == nullptr) return E_INVALIDARG;
    try {
        const ParamList list = Snapshot();
        std::string bytes;
        const HRESULT hr = WriteParamsFile(list, bytes);
        if (FAILED(hr)) return hr;
        if (!ReplaceFileAtomically(path, bytes.data(), bytes.size())) {
            return HRESULT_FROM_WIN32(ERROR_CANTWRITE);
        }
        return S_OK;
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
}

HRESULT MediaParams::LoadFromFile(BSTR path) {
    if (path == nullptr) return E_INVALIDARG;
    try {
        ParamList list;
        const HRESULT hr = LoadParamsFile(path, list);
        if (FAILED(hr)) return hr;
        ReplaceContent(std::move(list));
        return S_OK;
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
}

HRESULT MediaParams::SaveToStream(IStream* stream) {
    if (stream == nullptr) return E_POINTER;
    try {
        const ParamList list = Snapshot();
        std::string bytes;
        HRESULT hr = WriteParamsFile(list, bytes);
        if (FAILED(hr)) return hr;
        // The whole file form is at most kMaxParamsFileBytes, which one ULONG count holds.
        ULONG written = 0;
        hr = stream->Write(bytes.data(), static_cast<ULONG>(bytes.size()), &written);
        if (FAILED(hr)) return hr;
        return written == bytes.size() ? S_OK : STG_E_MEDIUMFULL;
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
}

HRESULT MediaParams::LoadFromStream(IStream* stream) {
    if (stream == nullptr) return E_POINTER;
    try {
        std::string bytes;
        HRESULT hr = ReadExactly(stream, kParamsFileHeaderSize, bytes);
        if (FAILED(hr)) return hr;
        std::uint64_t contentSize = 0;
        if (!ReadParamsFileHeader(bytes, contentSize)) return kParamsFileDamaged;
        hr = ReadExactly(stream, contentSize, bytes);
        if (FAILED(hr)) return hr;
        ParamList list;
        hr = ReadParamsFile(bytes, list);
        if (FAILED(hr)) return hr;
        ReplaceContent(std::move(list));
        return S_OK;
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
}

HRESULT MediaParams::Duplicate(LONG /*flags*/, IMediaParams** copy) {
    if (copy == nullptr) return E_POINTER;
    try {
        ParamList list = Snapshot();
        HRESULT hr = CopyParamsDeep(list, 0);
        if (FAILED(hr)) return hr;
        ComPtr<IMediaParams> created;
        hr = CreateParams(std::move(list), created);
        if (FAILED(hr)) return hr;
        *copy = created.Detach();
        return S_OK;
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
}

HRESULT MediaParams::Merge(LONG flags, IMediaParams* source) {
    if (source == nullptr) return E_POINTER;
    try {
        // Read through the interface without holding the lock: `source` may be this object.
        ParamList incoming;
        HRESULT hr = SnapshotParams(source, incoming);
        if (SUCCEEDED(hr) && (flags & kShareObject) == 0) hr = CopyParamsDeep(incoming, 0);
        if (FAILED(hr)) return hr;
        std::lock_guard guard(lock_);
        entries_.reserve(entries_.size() + incoming.size());  // nothing below throws
        for (ParamEntry& entry : incoming) {
            if (ParamEntry* existing = FindEntry(entry.name)) {
                existing->values.swap(entry.values);  // the old values go out with `incoming`
            } else {
                entries_.push_back(std::move(entry));
            }
        }
        return S_OK;  // `incoming` goes after the guard: replaced values are released unlocked
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
}

HRESULT MediaParams::GetNameCount(LONG* count) {
    if (count == nullptr) return E_POINTER;
    std::lock_guard guard(lock_);
    *count = static_cast<LONG>(entries_.size());
    return S_OK;
}

HRESULT MediaParams::GetNameAt(LONG index, BSTR* name) {
    if (name == nullptr) return E_POINTER;
    std::lock_guard guard(lock_);
    if (index < 0 || static_cast<std::size_t>(index) >= entries_.size()) return E_INVALIDARG;
    const std::wstring& text = entries_[static_cast<std::size_t>(index)].name;
    BSTR copy = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
    if (copy == nullptr) return E_OUTOFMEMORY;
    *name = copy;
    return S_OK;
}

HRESULT MediaParams::Remove(BSTR name) {
    if (name == nullptr) return E_INVALIDARG;
    ParamEntry removed;  // released after the lock
    std::lock_guard guard(lock_);
    const std::wstring_view key(name);
    const auto found = std::find_if(entries_.begin(), entries_.end(),
                                    [&](const ParamEntry& entry) { return entry.name == key; });
    if (found == entries_.end()) return S_FALSE;
    removed = std::move(*found);
    entries_.erase(found);
    return S_OK;
}

HRESULT MediaParams::GetCount(BSTR name, LONG* count) {
    if (count == nullptr) return E_POINTER;
    if (name == nullptr) return E_INVALIDARG;
    std::lock_guard guard(lock_);
    const ParamEntry* entry = FindEntry(name);
    *count = entry ? static_cast<LONG>(entry->values.size()) : 0;
    return S_OK;
}

HRESULT MediaParams::Clear() {
    ReplaceContent(ParamList{});
    return S_OK;
}

HRESULT MediaParams::GetType(BSTR name, LONG sel, LONG* type) {
    if (type == nullptr) return E_POINTER;
    std::lock_guard guard(lock_);
    const ParamValue* element = nullptr;
    const HRESULT hr = FindElement(name, sel, element);
    if (SUCCEEDED(hr)) *type = TypeOf(*element);
    return hr;
}

// ---------------------------------------------------------------------------------------------
// Scalars

HRESULT MediaParams::GetBoolDef(BSTR name, LONG sel, VARIANT_BOOL fallback, VARIANT_BOOL* value) {
    return ReadScalarDef(name, sel, fallback, value);
}
HRESULT MediaParams::GetBool(BSTR name, LONG sel, VARIANT_BOOL* value) {
    return ReadScalar(name, sel, value);
}
HRESULT MediaParams::SetBool(BSTR name, LONG sel, VARIANT_BOOL value) {
    const VARIANT_BOOL normalized = value != 0 ? VARIANT_TRUE : VARIANT_FALSE;
    return StoreValue(name, sel, ParamValue(std::in_place_type<VARIANT_BOOL>, normalized));
}

HRESULT MediaParams::GetLongDef(BSTR name, LONG sel, LONG fallback, LONG* value) {
    return ReadScalarDef(name, sel, fallback, value);
}
HRESULT MediaParams::GetLong(BSTR name, LONG sel, LONG* value) {
    return ReadScalar(name, sel, value);
}
HRESULT MediaParams::SetLong(BSTR name, LONG sel, LONG value) {
    return StoreValue(name, sel, ParamValue(std::in_place_type<LONG>, value));
}

HRESULT MediaParams::GetUInt64Def(BSTR name, LONG sel, ULONGLONG fallback, ULONGLONG* value) {
    return ReadScalarDef(name, sel, fallback, value);
}
HRESULT MediaParams::GetUInt64(BSTR name, LONG sel, ULONGLONG* value) {
    return ReadScalar(name, sel, value);
}
HRESULT MediaParams::SetUInt64(BSTR name, LONG sel, ULONGLONG value) {
    return StoreValue(name, sel, ParamValue(std::in_place_type<ULONGLONG>, value));
}

HRESULT MediaParams::GetDoubleDef(BSTR name, LONG sel, double fallback, double* value) {
    return ReadScalarDef(name, sel, fallback, value);
}
HRESULT MediaParams::GetDouble(BSTR name, LONG sel, double* value) {
    return ReadScalar(name, sel, value);
}
HRESULT MediaParams::SetDouble(BSTR name, LONG sel, double value) {
    return StoreValue(name, sel, ParamValue(std::in_place_type<double>, value));
}

// ---------------------------------------------------------------------------------------------
// Strings

HRESULT MediaParams::GetString(BSTR name, LONG sel, BSTR* value) {
    if (value == nullptr) return E_POINTER;
    std::lock_guard guard(lock_);
    const ParamValue* element = nullptr;
    const HRESULT hr = FindElement(name, sel, element);
    if (FAILED(hr)) return hr;
    const auto* text = std::get_if<std::wstring>(element);
    if (text == nullptr) return DISP_E_TYPEMISMATCH;
    BSTR copy = SysAllocStringLen(text->data(), static_cast<UINT>(text->size()));
    if (copy == nullptr) return E_OUTOFMEMORY;
    *value = copy;
    return S_OK;
}

HRESULT MediaParams::GetStringDef(BSTR name, LONG sel, BSTR fallback, BSTR* value) {
    const HRESULT hr = GetString(name, sel, value);
    if (!IsUnreadable(hr)) return hr;
    BSTR copy = nullptr;
    if (fallback != nullptr && (copy = SysAllocString(fallback)) == nullptr) return E_OUTOFMEMORY;
    *value = copy;
    return S_OK;
}

HRESULT MediaParams::SetString(BSTR name, LONG sel, BSTR value) {
    try {
        std::wstring text = value ? std::wstring(value) : std::wstring();
        return StoreValue(name, sel, ParamValue(std::in_place_type<std::wstring>, std::move(text)));
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
}

// ---------------------------------------------------------------------------------------------
// Objects

HRESULT MediaParams::GetParams(BSTR name, LONG sel, LONG flags, IMediaParams** value) {
    return ReadObjectAs(name, sel, flags, value);
}

HRESULT MediaParams::SetParams(BSTR name, LONG sel, LONG flags, IMediaParams* value) {
    return StoreObject(name, sel, flags, value);
}

HRESULT MediaParams::GetStream(BSTR name, LONG sel, LONG flags, IStream** value) {
    return ReadObjectAs(name, sel, flags, value);
}

HRESULT MediaParams::SetStream(BSTR name, LONG sel, LONG flags, IStream* value) {
    return StoreObject(name, sel, flags, value);
}

HRESULT MediaParams::GetUnknown(BSTR name, LONG sel, LONG /*flags*/, IUnknown** value) {
    // Objects are always shared: flags do not ask for a copy here.
    return ReadObjectAs(name, sel, kShareObject, value);
}

HRESULT MediaParams::SetUnknown(BSTR name, LONG sel, LONG /*flags*/, IUnknown* value) {
    if (value == nullptr) return E_POINTER;
    return StoreValue(name, sel, ParamValue(std::in_place_type<ComPtr<IUnknown>>, value));
}

}  // namespace mediakit
