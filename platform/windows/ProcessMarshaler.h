// Marshalling of free-threaded objects between the apartments of one process (Windows).
//
// A free-threaded object (ComModule::kFreeThreaded) answers IMarshal with this marshaler,
// aggregated into it (QueryFreeThreadedMarshaler). Between apartments of the process
// (MSHCTX_INPROC, MSHCTX_CROSSCTX) it hands the work to the system's free-threaded marshaler, so
// that the receiving apartment gets the object's own pointer. For the other contexts it writes
// that pointer itself, with the id of its process: Wine 8 makes its proxies with MSHCTX_LOCAL
// whatever their target, and for that context the system's marshaler falls back to standard
// marshalling, which objects whose interfaces have no proxy/stub (and hand out pointers into
// their own memory) cannot take. The unmarshal class CLSID_ProcessMarshaler, served and
// registered by the module that uses it (mediakit.dll), hands the pointer out in the same
// process and refuses it (CO_E_NOT_SUPPORTED) in any other.
//
// Marshal data: the process id (4 bytes), the MSHLFLAGS (4 bytes), the interface pointer
// (8 bytes), all in the machine's byte order. MSHLFLAGS_NORMAL data holds one reference, which
// the unmarshal or ReleaseMarshalData takes; TABLESTRONG data holds one until ReleaseMarshalData;
// TABLEWEAK data holds none.
#pragma once

#include "platform/ComObject.h"
#include "platform/CriticalSection.h"

constexpr CLSID CLSID_ProcessMarshaler = MakeGuid("B768A50A-C9B6-4BC4-8D9A-A6A30AADED93");

class CProcessMarshaler final : public ComObject<CProcessMarshaler>, public IMarshal {
  public:
    COM_DELEGATING_IUNKNOWN
    explicit CProcessMarshaler(ComObjectArgs args) : ComObject(args), outer_(args.outer) {}

    HRESULT InternalQueryInterface(REFIID riid, void** ppv) {
        return QueryInterfaceTable<IMarshal>(this, riid, ppv);
    }

    HRESULT STDMETHODCALLTYPE GetUnmarshalClass(REFIID riid, void* pv, DWORD context,
                                                void* contextData, DWORD flags,
                                                CLSID* clsid) override;
    HRESULT STDMETHODCALLTYPE GetMarshalSizeMax(REFIID riid, void* pv, DWORD context,
                                                void* contextData, DWORD flags,
                                                DWORD* size) override;
    HRESULT STDMETHODCALLTYPE MarshalInterface(IStream* stream, REFIID riid, void* pv,
                                               DWORD context, void* contextData,
                                               DWORD flags) override;
    HRESULT STDMETHODCALLTYPE UnmarshalInterface(IStream* stream, REFIID riid, void** ppv) override;
    HRESULT STDMETHODCALLTYPE ReleaseMarshalData(IStream* stream) override;
    HRESULT STDMETHODCALLTYPE DisconnectObject(DWORD reserved) override;

  private:
    // The system's free-threaded marshaler for the object (made on first use), or null.
    ComPtr<IMarshal> SystemMarshaler() noexcept;

    IUnknown* outer_;  // the object marshalled; null for an unmarshaler made by class
    CriticalSection lock_;
    ComPtr<IUnknown> system_;  // the system marshaler's own (non-delegating) unknown
};
