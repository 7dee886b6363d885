// Object creation (CoCreateInstance, CoGetClassObject, CoRegisterClassObject, task memory):
// the system's (platform/System.h); and CreateInstance into a ComPtr.
#pragma once

#include "platform/ComPtr.h"

// Creates a plain in-process object into a ComPtr: CreateInstance(CLSID_X, p).
template <class Interface>
HRESULT CreateInstance(REFCLSID clsid, ComPtr<Interface>& out) noexcept {
    return CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_OF(Interface), out.PutVoid());
}
