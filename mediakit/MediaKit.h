// Entry points of the framework stand-ins' module (libmediakit.so, mediakit.dll) for hosts.
#pragma once

#include "platform/Com.h"

#ifdef _WIN32
// mediakit.dll exports what mediakit/windows/mediakit.def lists.
#define MEDIAKIT_API
#else
#define MEDIAKIT_API __attribute__((visibility("default")))
#endif

extern "C" {
// Registers the class objects of every mediakit component in this process (CoRegisterClassObject),
// so that CoCreateInstance finds them. Calling it again registers nothing twice.
MEDIAKIT_API HRESULT MediaKitRegisterClasses();
// Revokes what MediaKitRegisterClasses registered.
MEDIAKIT_API HRESULT MediaKitRevokeClasses();
// The class object of one mediakit component, for a registry entry naming this library.
MEDIAKIT_API HRESULT DllGetClassObject(REFCLSID clsid, REFIID riid, void** ppv);
MEDIAKIT_API HRESULT DllCanUnloadNow();
// Windows only (mediakit/windows/Registration.cpp): registration with the system, so that
// CoCreateInstance finds the classes through the registry in any apartment:
// HKCR\CLSID\{clsid} = "mediakit <class>", \InprocServer32 = mediakit.dll, ThreadingModel "Both".
// Unregistration removes those keys.
MEDIAKIT_API HRESULT DllRegisterServer();
MEDIAKIT_API HRESULT DllUnregisterServer();
}
