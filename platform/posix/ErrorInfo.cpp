#include "platform/ErrorInfo.h"

#include <new>
#include <string>

#include "platform/ComObject.h"

namespace {
// One error record: built through ICreateErrorInfo, read through IErrorInfo.
class ErrorRecord final : public ComObject<ErrorRecord>,
                          public ICreateErrorInfo,
                          public IErrorInfo {
  public:
    COM_DELEGATING_IUNKNOWN
    explicit ErrorRecord(ComObjectArgs args) : ComObject(args) {}

    HRESULT InternalQueryInterface(REFIID riid, void** ppv) {
        return QueryInterfaceTable<ICreateErrorInfo, IErrorInfo>(this, riid, ppv);
    }

    HRESULT STDMETHODCALLTYPE SetGUID(REFGUID guid) override {
        guid_ = guid;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetSource(LPOLESTR source) override { return Store(source_, source); }
    HRESULT STDMETHODCALLTYPE SetDescription(LPOLESTR description) override {
        return Store(description_, description);
    }
    HRESULT STDMETHODCALLTYPE SetHelpFile(LPOLESTR helpFile) override {
        return Store(helpFile_, helpFile);
    }
    HRESULT STDMETHODCALLTYPE SetHelpContext(DWORD helpContext) override {
        helpContext_ = helpContext;
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE GetGUID(GUID* guid) override {
        if (guid == nullptr) return E_INVALIDARG;
        *guid = guid_;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetSource(BSTR* source) override { return Copy(source_, source); }
    HRESULT STDMETHODCALLTYPE GetDescription(BSTR* description) override {
        return Copy(description_, description);
    }
    HRESULT STDMETHODCALLTYPE GetHelpFile(BSTR* helpFile) override {
        return Copy(helpFile_, helpFile);
    }
    HRESULT STDMETHODCALLTYPE GetHelpContext(DWORD* helpContext) override {
        if (helpContext == nullptr) return E_INVALIDARG;
        *helpContext = helpContext_;
        return S_OK;
    }

  private:
    static HRESULT Store(std::wstring& field, LPOLESTR text) {
        try {
            field = text ? text : L"";
        } catch (const std::bad_alloc&) {
            return E_OUTOFMEMORY;
        }
        return S_OK;
    }
    // An empty field reads as a null BSTR, as on Windows.
    static HRESULT Copy(const std::wstring& field, BSTR* out) {
        if (out == nullptr) return E_INVALIDARG;
        *out = nullptr;
        if (field.empty()) return S_OK;
        *out = SysAllocStringLen(field.data(), static_cast<UINT>(field.size()));
        return *out ? S_OK : E_OUTOFMEMORY;
    }

    GUID guid_ = GUID_NULL;
    std::wstring source_;
    std::wstring description_;
    std::wstring helpFile_;
    DWORD helpContext_ = 0;
};

// The calling thread's record. A raw pointer in thread storage: threads that end with a record
// still installed release it through the guard below.
struct ThreadRecord {
    IErrorInfo* record = nullptr;
    ~ThreadRecord() {
        if (record) record->Release();
    }
};
thread_local ThreadRecord t_errorInfo;
}  // namespace

HRESULT CreateErrorInfo(ICreateErrorInfo** builder) {
    if (builder == nullptr) return E_INVALIDARG;
    return ComObject<ErrorRecord>::CreateInstance(nullptr, nullptr, IID_OF(ICreateErrorInfo),
                                                  reinterpret_cast<void**>(builder));
}

HRESULT SetErrorInfo(ULONG reserved, IErrorInfo* record) {
    if (reserved != 0) return E_INVALIDARG;
    if (record) record->AddRef();
    IErrorInfo* previous = t_errorInfo.record;
    t_errorInfo.record = record;
    if (previous) previous->Release();
    return S_OK;
}

HRESULT GetErrorInfo(ULONG reserved, IErrorInfo** record) {
    if (record == nullptr || reserved != 0) return E_INVALIDARG;
    *record = t_errorInfo.record;
    t_errorInfo.record = nullptr;
    return *record ? S_OK : S_FALSE;
}
