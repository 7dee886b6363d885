// Registers component classes in the test process (CoRegisterClassObject), so that the
// component's own CoCreateInstance calls find them as they would through the registry.
#pragma once

#include <gtest/gtest.h>

#include <vector>

#include "frame/ComponentModule.h"
#include "platform/Com.h"

class ComponentClassRegistration {
public:
    ComponentClassRegistration() = default;
    ~ComponentClassRegistration() {
        for (DWORD cookie : cookies_) CoRevokeClassObject(cookie);
    }
    ComponentClassRegistration(const ComponentClassRegistration&) = delete;
    ComponentClassRegistration& operator=(const ComponentClassRegistration&) = delete;

    template <class Class>
    void Add(REFCLSID clsid) {
        ComPtr<IClassFactory> factory;
        factory.Attach(new ClassFactory<Class>(&ComponentModule()));
        DWORD cookie = 0;
        ASSERT_EQ(CoRegisterClassObject(clsid, factory.Get(), CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE, &cookie),
                  S_OK);
        cookies_.push_back(cookie);
    }

private:
    std::vector<DWORD> cookies_;
};
