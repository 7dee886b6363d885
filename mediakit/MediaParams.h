// MediaParams: the framework's parameter container (IMediaParams). Names keep the order in which
// they were first set; each holds a list of typed elements. The selector, conversion and result
// rules are those written at IMediaParams.
//
// Threads: one mutex guards the content. It is never held while another object's methods run
// (nested containers, streams and objects are copied out under the lock and used after it, and
// replaced values are released after it), so containers that hold each other cannot deadlock.
//
// Files and streams (SaveToFile, SaveToStream): the format of ParamsFile.h. Object (IUnknown)
// elements cannot be saved and are left out; a stream element that cannot be read fails the save.
// LoadFromFile and LoadFromStream replace the whole content, or on any failure leave it as it
// was: HRESULT_FROM_WIN32(ERROR_CANTREAD) when the file cannot be read (missing, unreadable, over
// 1 GiB), HRESULT_FROM_WIN32(ERROR_INVALID_DATA) when its bytes are damaged. LoadFromFile reads
// the file once and keeps large stream elements in the file rather than in memory (they read
// from it while they live; ParamsFile.h). A failed SaveToFile is
// HRESULT_FROM_WIN32(ERROR_CANTWRITE) and leaves the old file in place.
#pragma once

#include <mutex>
#include <string_view>

#include "mediakit/ParamList.h"
#include "mediakit/Reserved.h"
#include "platform/ComObject.h"

namespace mediakit {

class MediaParams final : public ComObject<MediaParams>, public IMediaParams {
  public:
    COM_DELEGATING_IUNKNOWN
    explicit MediaParams(ComObjectArgs args) : ComObject(args) {}
    HRESULT InternalQueryInterface(REFIID riid, void** ppv) {
        return QueryInterfaceTable<IMediaParams>(this, riid, ppv);
    }

    // A copy of the content; nested objects are shared. Throws std::bad_alloc only.
    ParamList Snapshot() const;
    // Replaces the content with `list`.
    void Adopt(ParamList&& list) noexcept;

    HRESULT STDMETHODCALLTYPE GetVersion(LONG* version) override;
    MEDIAKIT_RESERVED(4)
    MEDIAKIT_RESERVED(5)
    MEDIAKIT_RESERVED(6)
    HRESULT STDMETHODCALLTYPE SaveToFile(BSTR path) override;
    HRESULT STDMETHODCALLTYPE LoadFromFile(BSTR path) override;
    HRESULT STDMETHODCALLTYPE SaveToStream(IStream* stream) override;
    HRESULT STDMETHODCALLTYPE LoadFromStream(IStream* stream) override;
    MEDIAKIT_RESERVED(11)
    MEDIAKIT_RESERVED(12)
    MEDIAKIT_RESERVED(13)
    // Any flags: containers and streams are copied all the way down, objects shared.
    HRESULT STDMETHODCALLTYPE Duplicate(LONG flags, IMediaParams** copy) override;
    // Every name of `source` replaces the same name here (or is appended). Flags bit 0 (0x101 has
    // it) shares the source's containers and streams; without it they are copied.
    HRESULT STDMETHODCALLTYPE Merge(LONG flags, IMediaParams* source) override;
    HRESULT STDMETHODCALLTYPE GetNameCount(LONG* count) override;
    // E_INVALIDARG for an index outside 0 to count - 1.
    HRESULT STDMETHODCALLTYPE GetNameAt(LONG index, BSTR* name) override;
    // S_OK when the name was removed, S_FALSE when there was none.
    HRESULT STDMETHODCALLTYPE Remove(BSTR name) override;
    // A missing name counts 0 elements.
    HRESULT STDMETHODCALLTYPE GetCount(BSTR name, LONG* count) override;
    HRESULT STDMETHODCALLTYPE Clear() override;
    HRESULT STDMETHODCALLTYPE GetType(BSTR name, LONG sel, LONG* type) override;
    MEDIAKIT_RESERVED(22)
    MEDIAKIT_RESERVED(23)
    MEDIAKIT_RESERVED(24)
    MEDIAKIT_RESERVED(25)
    MEDIAKIT_RESERVED(26)
    MEDIAKIT_RESERVED(27)
    MEDIAKIT_RESERVED(28)
    MEDIAKIT_RESERVED(29)
    MEDIAKIT_RESERVED(30)
    MEDIAKIT_RESERVED(31)
    MEDIAKIT_RESERVED(32)
    HRESULT STDMETHODCALLTYPE GetBoolDef(BSTR name, LONG sel, VARIANT_BOOL fallback,
                                         VARIANT_BOOL* value) override;
    HRESULT STDMETHODCALLTYPE GetBool(BSTR name, LONG sel, VARIANT_BOOL* value) override;
    // Any nonzero value is stored as VARIANT_TRUE.
    HRESULT STDMETHODCALLTYPE SetBool(BSTR name, LONG sel, VARIANT_BOOL value) override;
    MEDIAKIT_RESERVED(36)
    MEDIAKIT_RESERVED(37)
    MEDIAKIT_RESERVED(38)
    MEDIAKIT_RESERVED(39)
    MEDIAKIT_RESERVED(40)
    MEDIAKIT_RESERVED(41)
    MEDIAKIT_RESERVED(42)
    MEDIAKIT_RESERVED(43)
    MEDIAKIT_RESERVED(44)
    MEDIAKIT_RESERVED(45)
    MEDIAKIT_RESERVED(46)
    MEDIAKIT_RESERVED(47)
    HRESULT STDMETHODCALLTYPE GetLongDef(BSTR name, LONG sel, LONG fallback, LONG* value) override;
    HRESULT STDMETHODCALLTYPE GetLong(BSTR name, LONG sel, LONG* value) override;
    HRESULT STDMETHODCALLTYPE SetLong(BSTR name, LONG sel, LONG value) override;
    MEDIAKIT_RESERVED(51)
    MEDIAKIT_RESERVED(52)
    MEDIAKIT_RESERVED(53)
    MEDIAKIT_RESERVED(54)
    MEDIAKIT_RESERVED(55)
    MEDIAKIT_RESERVED(56)
    HRESULT STDMETHODCALLTYPE GetUInt64Def(BSTR name, LONG sel, ULONGLONG fallback,
                                           ULONGLONG* value) override;
    HRESULT STDMETHODCALLTYPE GetUInt64(BSTR name, LONG sel, ULONGLONG* value) override;
    HRESULT STDMETHODCALLTYPE SetUInt64(BSTR name, LONG sel, ULONGLONG value) override;
    HRESULT STDMETHODCALLTYPE GetDoubleDef(BSTR name, LONG sel, double fallback,
                                           double* value) override;
    HRESULT STDMETHODCALLTYPE GetDouble(BSTR name, LONG sel, double* value) override;
    HRESULT STDMETHODCALLTYPE SetDouble(BSTR name, LONG sel, double value) override;
    // The default is copied (a null default gives a null string).
    HRESULT STDMETHODCALLTYPE GetStringDef(BSTR name, LONG sel, BSTR fallback,
                                           BSTR* value) override;
    HRESULT STDMETHODCALLTYPE GetString(BSTR name, LONG sel, BSTR* value) override;
    // The text up to its first zero character is stored (so a plain wide string serves as well as
    // a BSTR); null stores an empty string.
    HRESULT STDMETHODCALLTYPE SetString(BSTR name, LONG sel, BSTR value) override;
    MEDIAKIT_RESERVED(66)
    MEDIAKIT_RESERVED(67)
    MEDIAKIT_RESERVED(68)
    MEDIAKIT_RESERVED(69)
    MEDIAKIT_RESERVED(70)
    MEDIAKIT_RESERVED(71)
    MEDIAKIT_RESERVED(72)
    HRESULT STDMETHODCALLTYPE GetParams(BSTR name, LONG sel, LONG flags,
                                        IMediaParams** value) override;
    HRESULT STDMETHODCALLTYPE SetParams(BSTR name, LONG sel, LONG flags,
                                        IMediaParams* value) override;
    MEDIAKIT_RESERVED(75)
    HRESULT STDMETHODCALLTYPE GetStream(BSTR name, LONG sel, LONG flags, IStream** value) override;
    HRESULT STDMETHODCALLTYPE SetStream(BSTR name, LONG sel, LONG flags, IStream* value) override;
    MEDIAKIT_RESERVED(78)
    MEDIAKIT_RESERVED(79)
    MEDIAKIT_RESERVED(80)
    // Answers the IUnknown of any object element (container, stream or object).
    HRESULT STDMETHODCALLTYPE GetUnknown(BSTR name, LONG sel, LONG flags,
                                         IUnknown** value) override;
    MEDIAKIT_RESERVED(82)
    // Always shares the object, whatever `flags` says.
    HRESULT STDMETHODCALLTYPE SetUnknown(BSTR name, LONG sel, LONG flags, IUnknown* value) override;

  private:
    const ParamEntry* FindEntry(std::wstring_view name) const noexcept;
    ParamEntry* FindEntry(std::wstring_view name) noexcept;
    // The element that (name, sel) reads; the caller holds the lock.
    HRESULT FindElement(BSTR name, LONG sel, const ParamValue*& element) const noexcept;
    // Reads one element converted to T (a scalar) under the lock.
    template <class T>
    HRESULT ReadScalar(BSTR name, LONG sel, T* value) const noexcept;
    template <class T>
    HRESULT ReadScalarDef(BSTR name, LONG sel, T fallback, T* value) const noexcept;
    // Copies the object element out under the lock (a new reference).
    HRESULT ReadObject(BSTR name, LONG sel, ComPtr<IUnknown>& object) const noexcept;
    template <class Interface>
    HRESULT ReadObjectAs(BSTR name, LONG sel, LONG flags, Interface** value) const noexcept;
    // Stores `value` at (name, sel); the value it replaces is swapped into `value`, so that the
    // caller releases it after the lock is let go.
    HRESULT Store(BSTR name, LONG sel, ParamValue& value);
    HRESULT StoreValue(BSTR name, LONG sel, ParamValue value) noexcept;
    // Stores a container or stream, shared (flags bit 0) or as an independent copy.
    template <class Interface>
    HRESULT StoreObject(BSTR name, LONG sel, LONG flags, Interface* value) noexcept;
    // Replaces the whole content; the old content is released after the lock.
    void ReplaceContent(ParamList&& list) noexcept;

    mutable std::mutex lock_;
    ParamList entries_;
};

}  // namespace mediakit
