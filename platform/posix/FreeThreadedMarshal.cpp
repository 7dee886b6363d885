#include "platform/FreeThreadedMarshal.h"

HRESULT QueryFreeThreadedMarshaler(IUnknown* /*outer*/, std::atomic<IUnknown*>& /*slot*/,
                                   REFIID /*riid*/, void** ppv) noexcept {
    if (ppv != nullptr) *ppv = nullptr;
    return E_NOINTERFACE;
}
