// The classes that libmediakit.so serves, and the module whose lock count DllCanUnloadNow reads.
//
// Every class listed in ClassList.cpp is registered by MediaKitRegisterClasses and answered by
// DllGetClassObject. To add a class, include its header in ClassList.cpp and add one line
// `MediaKitClass<ClassName>(CLSID_Name, L"Name"),` to kClasses there.
#pragma once

#include <new>
#include <span>

#include "platform/ComObject.h"

namespace mediakit {

// The library's module: every object it creates (through a class object or internally, as
// copies and output packets) locks it while alive.
ComModule& Module() noexcept;

// Creates a class object of one class (one reference, owned by the caller).
using ClassFactoryMaker = HRESULT (*)(ComPtr<IClassFactory>& factory);

struct ClassEntry {
    CLSID clsid;
    ClassFactoryMaker makeFactory;
    const wchar_t* name;  // the class's name, as registration titles it
};

template <class Object>
HRESULT MakeClassFactory(ComPtr<IClassFactory>& factory) noexcept {
    // ClassFactory starts with the one reference that the caller adopts.
    IClassFactory* created = new (std::nothrow) ClassFactory<Object>(&Module());
    if (created == nullptr) return E_OUTOFMEMORY;
    factory.Attach(created);
    return S_OK;
}

template <class Object>
constexpr ClassEntry MediaKitClass(const CLSID& clsid, const wchar_t* name) noexcept {
    return ClassEntry{clsid, &MakeClassFactory<Object>, name};
}

// Every class of the library, in registration order.
std::span<const ClassEntry> Classes() noexcept;

// Creates one object of this library directly (no class table involved), as copies and output
// packets are made.
template <class Object, class Interface>
HRESULT CreateObject(ComPtr<Interface>& out) noexcept {
    return ComObject<Object>::Create(&Module(), out);
}

}  // namespace mediakit
