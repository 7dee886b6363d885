#include "platform/FreeThreadedMarshal.h"

#include "platform/windows/ProcessMarshaler.h"

HRESULT QueryFreeThreadedMarshaler(IUnknown* outer, std::atomic<IUnknown*>& slot, REFIID riid,
                                   void** ppv) noexcept {
    if (ppv == nullptr) return E_POINTER;
    *ppv = nullptr;
    if (riid != IID_IMarshal) return E_NOINTERFACE;
    IUnknown* marshaler = slot.load(std::memory_order_acquire);
    if (marshaler == nullptr) {
        // Aggregated into the object: its inner unknown is what the slot owns.
        IUnknown* created = nullptr;
        const HRESULT hr = ComObject<CProcessMarshaler>::CreateInstance(
            nullptr, outer, IID_IUnknown, reinterpret_cast<void**>(&created));
        if (FAILED(hr)) return hr;
        // Two threads may race to make it: the first one stored wins, the other is released.
        if (slot.compare_exchange_strong(marshaler, created, std::memory_order_acq_rel)) {
            marshaler = created;
        } else {
            created->Release();
        }
    }
    return marshaler->QueryInterface(riid, ppv);
}
