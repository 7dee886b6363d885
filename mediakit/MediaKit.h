// Entry points of libmediakit.so for hosts.
#pragma once

#include "platform/Com.h"

#define MEDIAKIT_API __attribute__((visibility("default")))

extern "C" {
// Registers the class objects of every mediakit component in this process (CoRegisterClassObject),
// so that CoCreateInstance finds them. Calling it again registers nothing twice.
MEDIAKIT_API HRESULT MediaKitRegisterClasses();
// Revokes what MediaKitRegisterClasses registered.
MEDIAKIT_API HRESULT MediaKitRevokeClasses();
// The class object of one mediakit component, for a registry entry naming this library.
MEDIAKIT_API HRESULT DllGetClassObject(REFCLSID clsid, REFIID riid, void** ppv);
MEDIAKIT_API HRESULT DllCanUnloadNow();
}
