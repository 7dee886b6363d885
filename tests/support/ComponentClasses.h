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
        ASSERT_EQ(CoRegisterClassObject(clsid, factory.Get(), CLSCTX_INPROC_SERVER,
                                        REGCLS_MULTIPLEUSE, &cookies_.emplace_back()),
                  S_OK);
    }

  private:
    std::vector<DWORD> cookies_;
};
