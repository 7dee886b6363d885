// Registers component classes in the test process (CoRegisterClassObject), so that the
// component's own CoCreateInstance calls find them as they would through the registry; and
// classes that cannot be made, in place of the framework's (registered with the system on
// Windows, so that revoking them from the process is not enough to make a creation fail).
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <optional>
#include <vector>

#include "frame/ComponentModule.h"
#include "mediakit/MediaKit.h"
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
        Register(clsid, factory.Get());
    }
    // A class object for `clsid` whose every creation fails with E_OUTOFMEMORY, as when memory
    // runs out.
    void AddUnmakeable(REFCLSID clsid) {
        ComPtr<IClassFactory> factory;
        factory.Attach(new UnmakeableClass);
        Register(clsid, factory.Get());
    }

  private:
    class UnmakeableClass final : public IClassFactory {
      public:
        HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
            if (ppv == nullptr) return E_POINTER;
            *ppv = riid == IID_IUnknown || riid == IID_IClassFactory ? this : nullptr;
            if (*ppv == nullptr) return E_NOINTERFACE;
            AddRef();
            return S_OK;
        }
        ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
        ULONG STDMETHODCALLTYPE Release() override {
            const ULONG left = --references_;
            if (left == 0) delete this;
            return left;
        }
        HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown*, REFIID, void** ppv) override {
            if (ppv != nullptr) *ppv = nullptr;
            return E_OUTOFMEMORY;
        }
        HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }

      private:
        std::atomic<ULONG> references_{1};
    };

    void Register(REFCLSID clsid, IClassFactory* factory) {
        ASSERT_EQ(CoRegisterClassObject(clsid, factory, CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE,
                                        &cookies_.emplace_back()),
                  S_OK);
    }

    std::vector<DWORD> cookies_;
};

// Registers mediakit's classes and `Class` under `clsid` for the whole test program:
// ::testing::AddGlobalTestEnvironment(new ProgramClasses<Class>(clsid)).
template <class Class>
class ProgramClasses : public ::testing::Environment {
  public:
    explicit ProgramClasses(REFCLSID clsid) : clsid_(clsid) {}
    void SetUp() override {
        ASSERT_EQ(MediaKitRegisterClasses(), S_OK);
        classes_.emplace().template Add<Class>(clsid_);
    }
    void TearDown() override {
        classes_.reset();
        MediaKitRevokeClasses();
    }

  private:
    CLSID clsid_;
    std::optional<ComponentClassRegistration> classes_;
};
