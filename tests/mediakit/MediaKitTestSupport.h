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

// Reads a value through `method`, an interface method or a vtable slot number; the out pointer
// follows `args`. A Bstr or ComPtr receives what the callee allocates.
template <class T, class Interface, class Method, class... Args>
T ReadValue(Interface* object, Method method, Args... args) {
    T value{};
    auto out = [&] {
        if constexpr (requires { value.Put(); })
            return value.Put();
        else
            return &value;
    }();
    if constexpr (std::is_integral_v<Method>) {
        EXPECT_EQ(CallSlot(object, method, args..., out), S_OK) << "slot " << method;
    } else {
        EXPECT_EQ((object->*method)(args..., out), S_OK);
    }
    return value;
}

// A BSTR that lives for the full expression (names are passed as BSTRs).
inline Bstr B(const wchar_t* text) {
    return Bstr(text);
}

// A memory stream holding `bytes`, its position at their end.
inline ComPtr<IStream> StreamOf(const std::string& bytes) {
    ComPtr<IStream> stream;
    EXPECT_EQ(CreateStreamOnHGlobal(nullptr, TRUE, stream.Put()), S_OK);
    EXPECT_EQ(stream->Write(bytes.data(), static_cast<ULONG>(bytes.size()), nullptr), S_OK);
    return stream;
}
