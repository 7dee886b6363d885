// The component's module, libzevflashfile5.so: its five exported entry points and the table of
// creatable classes behind them. These five are the only symbols the library exports.
//
// Class table, in the order in which classes are registered and searched:
//   FlashFile5         {4782B4A0-9258-40BD-8739-54432C6407A2}  script 106  CFlashFile5
//   FlashAudioStream5  {5E470577-C2B2-4451-9A88-10E1493C8126}  script 108  CFlashAudioStream5
//   FlashVideoStream5  {2D955AA8-8E94-4A94-A669-C493B0730C20}  script 107  CFlashVideoStream5
// Each class has one class object (ClassFactory<Class>), made on the first DllGetClassObject for
// it and kept until the library is unloaded. It creates objects plain or aggregated through
// ComObject<Class>::CreateInstance, which runs the class's FinalConstruct (a failure destroys
// the object and is returned). No class has component categories.
//
// Module state, set up when the library is loaded: the lock count (ComponentModule(): objects
// alive plus LockServer locks; class objects themselves do not count), a critical section for
// the lazy creation of class objects, the per-user flag (false at load; DllInstall with "user"
// sets it for the rest of the process), and the module's own path (what registration writes as
// InprocServer32 and as the type library's location).
//
// Registration runs with the thread locale set to LANG_SYSTEM_DEFAULT (restored on every way
// out): the module script 101 (with the APPID replacement), then each class script in table
// order, stopping at the first failure, then the type library (per user when the flag is set).
// Unregistration: the class scripts, then the type library, then the module script, stopping at
// the first failure; unregistering a type library that is not registered is a failure
// (TYPE_E_REGISTRYACCESS), as on Windows. Registration and unregistration end with the
// proxy/stub keys of the custom interfaces (frame/ProxyStub.h; none on the stand-in), which
// DllGetClassObject also serves the class object of. While the per-user flag is set the scripts
// write under HKEY_CURRENT_USER\Software\Classes instead of HKEY_CLASSES_ROOT.
#pragma once

#include "platform/Guid.h"

// E_POINTER for a null `ppv`; otherwise *ppv is nulled first. E_UNEXPECTED before the module is
// set up; CLASS_E_CLASSNOTAVAILABLE for a class outside the table; else what the class object's
// QueryInterface(riid) answers (E_OUTOFMEMORY when it cannot be made).
STDAPI DllGetClassObject(REFCLSID clsid, REFIID riid, void** ppv);
// S_OK when no object and no server lock of the module is alive, else S_FALSE.
STDAPI DllCanUnloadNow();
// Registration (see above); on failure what was written stays.
STDAPI DllRegisterServer();
STDAPI DllUnregisterServer();
// `commandLine` "user" (compared case-insensitively, terminator included: "USER" matches,
// "users" does not) sets the per-user flag first. Uninstall returns unregistration's result;
// install registers, and when that fails unregisters and returns the registration's failure.
STDAPI DllInstall(BOOL install, LPCWSTR commandLine);
