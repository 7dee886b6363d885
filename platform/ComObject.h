// The one small mixin that every COM object in this code base is built from: reference
// counting, QueryInterface from a list of interfaces, aggregation, a module lock per object,
// creation through a final-construction step, and a class object that creates instances.
//
// A class is written like this:
//
//   class CThing final : public ComObject<CThing>, public IThing, public IOther {
//   public:
//       COM_DELEGATING_IUNKNOWN
//       explicit CThing(ComObjectArgs args) : ComObject(args) {}
//       HRESULT FinalConstruct();                            // optional
//       HRESULT InternalQueryInterface(REFIID riid, void** ppv) {
//           return QueryInterfaceTable<IThing, IOther>(this, riid, ppv);
//       }
//       ...
//   };
//
// and created with ComObject<CThing>::CreateInstance(outer, riid, ppv) or through
// ClassFactory<CThing>. Release deletes through the concrete type.
#pragma once

#include <atomic>
#include <new>
#include <utility>

#include "platform/ComPtr.h"
#include "platform/FreeThreadedMarshal.h"

// The lock count of one module (shared library): live objects plus explicit server locks.
// Objects of a free-threaded module may be called from any apartment: they answer IMarshal
// with the system's free-threaded marshaler, so that they cross apartments as plain pointers
// (on the stand-in, which has no apartments, they answer as any other).
class ComModule {
  public:
    enum Threading { kApartment, kFreeThreaded };
    explicit ComModule(Threading threading = kApartment) noexcept
        : freeThreaded_(threading == kFreeThreaded) {}

    void Lock() noexcept { count_.fetch_add(1, std::memory_order_relaxed); }
    void Unlock() noexcept { count_.fetch_sub(1, std::memory_order_acq_rel); }
    LONG LockCount() const noexcept { return count_.load(std::memory_order_acquire); }
    bool FreeThreaded() const noexcept { return freeThreaded_; }

  private:
    std::atomic<LONG> count_{0};
    const bool freeThreaded_;
};

// What a derived constructor passes on to its ComObject base.
struct ComObjectArgs {
    ComModule* module = nullptr;  // may be null for objects that keep no module alive
    IUnknown* outer = nullptr;    // the controlling unknown when aggregated
};

// Answers `riid` with the first of Interfaces that matches; the object itself is the source of
// every pointer. IID_IUnknown is answered by the object's non-delegating unknown, not here.
template <class... Interfaces, class Object>
HRESULT QueryInterfaceTable(Object* object, REFIID riid, void** ppv) noexcept {
    // Each interface derives from IUnknown along a single chain, so its IUnknown sits at the
    // same address as the interface itself.
    IUnknown* found = nullptr;
    ((found == nullptr && riid == IID_OF(Interfaces)
          ? void(found = static_cast<Interfaces*>(object))
          : void()),
     ...);
    if (found == nullptr) return E_NOINTERFACE;
    found->AddRef();
    *ppv = found;
    return S_OK;
}

template <class Derived>
class ComObject {
  public:
    ComObject(const ComObject&) = delete;
    ComObject& operator=(const ComObject&) = delete;

    // Creates an object (aggregated when `outer` is not null; then `riid` must be IUnknown),
    // runs its FinalConstruct and answers `riid`. On failure the object is destroyed.
    static HRESULT CreateInstance(ComModule* module, IUnknown* outer, REFIID riid,
                                  void** ppv) noexcept {
        if (ppv == nullptr) return E_POINTER;
        *ppv = nullptr;
        if (outer != nullptr && riid != IID_IUnknown) return CLASS_E_NOAGGREGATION;
        Derived* object = nullptr;
        try {
            object = new Derived(ComObjectArgs{module, outer});
        } catch (const std::bad_alloc&) {
            return E_OUTOFMEMORY;
        }
        // One reference guards the object while it constructs itself and answers the query.
        object->comInner_.AddRef();
        HRESULT hr;
        try {
            hr = object->FinalConstruct();
        } catch (const std::bad_alloc&) {
            hr = E_OUTOFMEMORY;
        }
        if (SUCCEEDED(hr)) hr = object->comInner_.QueryInterface(riid, ppv);
        object->comInner_.Release();
        return hr;
    }

    // Creates a plain (not aggregated) object straight into a ComPtr of one of its interfaces.
    template <class Interface>
    static HRESULT Create(ComModule* module, ComPtr<Interface>& out) noexcept {
        return CreateInstance(module, nullptr, IID_OF(Interface), out.PutVoid());
    }

    // The non-delegating unknown: the identity of an aggregated object inside its outer object.
    IUnknown* InnerUnknown() noexcept { return &comInner_; }

  protected:
    explicit ComObject(ComObjectArgs args) noexcept
        : comModule_(args.module), comOuter_(args.outer ? args.outer : &comInner_) {
        comInner_.owner = this;
        if (comModule_) comModule_->Lock();
    }
    ~ComObject() {
        if (IUnknown* marshaler = comMarshaler_.exchange(nullptr)) marshaler->Release();
        if (comModule_) comModule_->Unlock();
    }

    // Default final construction: nothing to do. A derived class hides it with its own.
    HRESULT FinalConstruct() { return S_OK; }

    // The controlling unknown's methods, used by COM_DELEGATING_IUNKNOWN.
    HRESULT OuterQueryInterface(REFIID riid, void** ppv) noexcept {
        if (ppv == nullptr) return E_POINTER;
        return comOuter_->QueryInterface(riid, ppv);
    }
    ULONG OuterAddRef() noexcept { return comOuter_->AddRef(); }
    ULONG OuterRelease() noexcept { return comOuter_->Release(); }

    bool IsAggregated() const noexcept { return comOuter_ != &comInner_; }

  private:
    struct NonDelegatingUnknown final : IUnknown {
        // The object is reached through its base here: the derived part is not built yet when
        // the base constructor stores this pointer.
        ComObject* owner = nullptr;
        Derived* Self() const { return static_cast<Derived*>(owner); }
        std::atomic<ULONG> references{0};

        HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
            if (ppv == nullptr) return E_POINTER;
            *ppv = nullptr;
            if (riid == IID_IUnknown) {
                AddRef();
                *ppv = static_cast<IUnknown*>(this);
                return S_OK;
            }
            const HRESULT hr = Self()->InternalQueryInterface(riid, ppv);
            if (hr != E_NOINTERFACE || owner->comModule_ == nullptr ||
                !owner->comModule_->FreeThreaded()) {
                return hr;
            }
            return QueryFreeThreadedMarshaler(owner->comOuter_, owner->comMarshaler_, riid, ppv);
        }
        ULONG STDMETHODCALLTYPE AddRef() override {
            return references.fetch_add(1, std::memory_order_relaxed) + 1;
        }
        ULONG STDMETHODCALLTYPE Release() override {
            const ULONG left = references.fetch_sub(1, std::memory_order_acq_rel) - 1;
            if (left == 0) delete Self();
            return left;
        }
    };

    NonDelegatingUnknown comInner_;
    ComModule* comModule_;
    IUnknown* comOuter_;
    // The free-threaded marshaler, made on the first IMarshal query of a free-threaded object.
    std::atomic<IUnknown*> comMarshaler_{nullptr};
};

// Put in the body of every class built on ComObject: the IUnknown methods of all its interfaces
// forward to the controlling unknown (the object itself, or its outer object when aggregated).
#define COM_DELEGATING_IUNKNOWN                                                  \
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override { \
        return this->OuterQueryInterface(riid, ppv);                             \
    }                                                                            \
    ULONG STDMETHODCALLTYPE AddRef() override {                                  \
        return this->OuterAddRef();                                              \
    }                                                                            \
    ULONG STDMETHODCALLTYPE Release() override {                                 \
        return this->OuterRelease();                                             \
    }

// Runs the body of an interface method and keeps exceptions from crossing the interface: an
// allocation failure becomes E_OUTOFMEMORY, anything else E_UNEXPECTED.
template <class Body>
HRESULT GuardedCall(Body&& body) noexcept {
    try {
        return body();
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    } catch (...) {
        return E_UNEXPECTED;
    }
}

// A class object for Derived. The module it belongs to counts the class object's LockServer
// calls; a class object does not itself keep the module locked.
template <class Derived>
class ClassFactory final : public IClassFactory {
  public:
    explicit ClassFactory(ComModule* module) noexcept : module_(module) {}

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        if (ppv == nullptr) return E_POINTER;
        if (riid == IID_IUnknown || riid == IID_IClassFactory) {
            AddRef();
            *ppv = static_cast<IClassFactory*>(this);
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return references_.fetch_add(1) + 1; }
    ULONG STDMETHODCALLTYPE Release() override {
        const ULONG left = references_.fetch_sub(1) - 1;
        if (left == 0) delete this;
        return left;
    }
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override {
        return ComObject<Derived>::CreateInstance(module_, outer, riid, ppv);
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override {
        if (module_) {
            if (lock)
                module_->Lock();
            else
                module_->Unlock();
        }
        return S_OK;
    }

  private:
    ComModule* module_;
    std::atomic<ULONG> references_{1};
};
