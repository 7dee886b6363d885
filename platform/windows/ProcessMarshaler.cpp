#include "platform/windows/ProcessMarshaler.h"

#include <cstdint>

namespace {
struct MarshalData {
    DWORD process = 0;
    DWORD flags = 0;
    std::uint64_t pointer = 0;
};
static_assert(sizeof(MarshalData) == 16);

// Contexts in which the receiving apartment is in this process for certain.
bool InThisProcess(DWORD context) {
    return context == MSHCTX_INPROC || context == MSHCTX_CROSSCTX;
}

HRESULT ReadData(IStream* stream, MarshalData& data) {
    if (stream == nullptr) return E_POINTER;
    ULONG read = 0;
    const HRESULT hr = stream->Read(&data, sizeof data, &read);
    if (FAILED(hr)) return hr;
    if (read != sizeof data) return STG_E_READFAULT;
    if (data.pointer == 0) return E_UNEXPECTED;
    return data.process == GetCurrentProcessId() ? S_OK : CO_E_NOT_SUPPORTED;
}

IUnknown* PointerOf(const MarshalData& data) {
    return reinterpret_cast<IUnknown*>(static_cast<std::uintptr_t>(data.pointer));
}
}  // namespace

ComPtr<IMarshal> CProcessMarshaler::SystemMarshaler() noexcept {
    CriticalSectionLock guard(lock_);
    if (!system_ && outer_ != nullptr) (void)CoCreateFreeThreadedMarshaler(outer_, system_.Put());
    ComPtr<IMarshal> marshaler;
    if (system_) (void)system_.As(marshaler);
    return marshaler;
}

HRESULT CProcessMarshaler::GetUnmarshalClass(REFIID riid, void* pv, DWORD context,
                                             void* contextData, DWORD flags, CLSID* clsid) {
    if (clsid == nullptr) return E_POINTER;
    if (InThisProcess(context)) {
        const ComPtr<IMarshal> system = SystemMarshaler();
        if (!system) return E_OUTOFMEMORY;
        return system->GetUnmarshalClass(riid, pv, context, contextData, flags, clsid);
    }
    *clsid = CLSID_ProcessMarshaler;
    return S_OK;
}

HRESULT CProcessMarshaler::GetMarshalSizeMax(REFIID riid, void* pv, DWORD context,
                                             void* contextData, DWORD flags, DWORD* size) {
    if (size == nullptr) return E_POINTER;
    if (InThisProcess(context)) {
        const ComPtr<IMarshal> system = SystemMarshaler();
        if (!system) return E_OUTOFMEMORY;
        return system->GetMarshalSizeMax(riid, pv, context, contextData, flags, size);
    }
    *size = sizeof(MarshalData);
    return S_OK;
}

HRESULT CProcessMarshaler::MarshalInterface(IStream* stream, REFIID riid, void* pv, DWORD context,
                                            void* contextData, DWORD flags) {
    if (InThisProcess(context)) {
        const ComPtr<IMarshal> system = SystemMarshaler();
        if (!system) return E_OUTOFMEMORY;
        return system->MarshalInterface(stream, riid, pv, context, contextData, flags);
    }
    if (stream == nullptr || pv == nullptr) return E_POINTER;
    ComPtr<IUnknown> object;
    HRESULT hr = static_cast<IUnknown*>(pv)->QueryInterface(riid, object.PutVoid());
    if (FAILED(hr)) return hr;
    MarshalData data;
    data.process = GetCurrentProcessId();
    data.flags = flags;
    data.pointer = reinterpret_cast<std::uintptr_t>(object.Get());
    hr = stream->Write(&data, sizeof data, nullptr);
    if (FAILED(hr)) return hr;
    // The reference goes with the data, except for table-weak data.
    if ((flags & MSHLFLAGS_TABLEWEAK) == 0) (void)object.Detach();
    return S_OK;
}

HRESULT CProcessMarshaler::UnmarshalInterface(IStream* stream, REFIID riid, void** ppv) {
    if (ppv == nullptr) return E_POINTER;
    *ppv = nullptr;
    MarshalData data;
    const HRESULT read = ReadData(stream, data);
    if (FAILED(read)) return read;
    IUnknown* object = PointerOf(data);
    const HRESULT hr = object->QueryInterface(riid, ppv);
    // Normal data is unmarshalled once: its reference is used up here.
    if ((data.flags & (MSHLFLAGS_TABLESTRONG | MSHLFLAGS_TABLEWEAK)) == 0) object->Release();
    return hr;
}

HRESULT CProcessMarshaler::ReleaseMarshalData(IStream* stream) {
    MarshalData data;
    const HRESULT read = ReadData(stream, data);
    if (FAILED(read)) return read;
    if ((data.flags & MSHLFLAGS_TABLEWEAK) == 0) PointerOf(data)->Release();
    return S_OK;
}

HRESULT CProcessMarshaler::DisconnectObject(DWORD) {
    return S_OK;
}
