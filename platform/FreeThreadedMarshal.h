// The marshaler of objects that any apartment may call directly.
#pragma once

#include <atomic>

#include "platform/Platform.h"
#include "platform/System.h"

// Answers `riid` for an object whose controlling unknown is `outer` with a free-threaded
// marshaler (IMarshal), created on first use into `slot` (which then owns one reference, for
// the object to release when it goes). On Windows this lets the object cross apartments as a
// plain pointer (platform/windows/ProcessMarshaler.h); E_NOINTERFACE for every other `riid`.
// The stand-in has no apartments and no marshalling: E_NOINTERFACE always.
PLATFORM_API HRESULT QueryFreeThreadedMarshaler(IUnknown* outer, std::atomic<IUnknown*>& slot,
                                                REFIID riid, void** ppv) noexcept;
