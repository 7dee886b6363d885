// Helpers of the mediakit tests: creating components by class identifier, and calling a method
// through its raw vtable slot, as a host compiled against the interface numbers would.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <type_traits>

#include "mediakit/MediaInterfaces.h"
#include "mediakit/MediaKit.h"
#include "platform/Bstr.h"

// Creates a mediakit component (registering the library's classes first, which is idempotent).
template <class Interface>
ComPtr<Interface> Create(REFCLSID clsid) {
    EXPECT_EQ(MediaKitRegisterClasses(), S_OK);
    ComPtr<Interface> object;
    EXPECT_EQ(CreateInstance(clsid, object), S_OK);
    return object;
}

// Calls vtable slot `slot` of `object` as a plain function taking the interface pointer first.
template <class Result = HRESULT, class Interface, class... Args>
Result CallSlot(Interface* object, int slot, Args... args) {
    using Function = Result (*)(Interface*, Args...);
    void* const* table = *reinterpret_cast<void* const* const*>(object);
    return reinterpret_cast<Function>(table[slot])(object, args...);
}

// Reads a value through vtable slot `slot`; the out pointer follows `args`.
template <class T, class Interface, class... Args>
T ReadSlot(Interface* object, int slot, Args... args) {
    T value{};
    EXPECT_EQ(CallSlot(object, slot, args..., &value), S_OK) << "slot " << slot;
    return value;
}

// Reads a value through an interface method; the out pointer follows `args`. A Bstr receives
// a string the method allocates.
template <class T, class Interface, class Method, class... Args>
T ReadValue(Interface* object, Method method, Args... args) {
    T value{};
    if constexpr (std::is_same_v<T, Bstr>) {
        EXPECT_EQ((object->*method)(args..., value.Put()), S_OK);
    } else {
        EXPECT_EQ((object->*method)(args..., &value), S_OK);
    }
    return value;
}

// A BSTR that lives for the test (names are passed as BSTRs).
inline Bstr B(const wchar_t* text) {
    return Bstr(text);
}
