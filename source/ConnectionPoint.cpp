#include "source/ConnectionPoint.h"

#include <algorithm>
#include <cstddef>
#include <limits>
#include <memory>
#include <new>

#include "frame/ComponentModule.h"
#include "platform/ComObject.h"

namespace {

// One advised sink as EnumConnections hands it out.
struct Connection {
    ComPtr<IUnknown> sink;
    DWORD cookie = 0;
};

// The enumerators' element copies: each element carries a new reference for the receiver.
void CopyOut(const ComPtr<IConnectionPoint>& held, IConnectionPoint*& element) {
    element = ComPtr<IConnectionPoint>(held).Detach();
}
void CopyOut(const Connection& held, CONNECTDATA& element) {
    element.pUnk = ComPtr<IUnknown>(held.sink).Detach();
    element.dwCookie = held.cookie;
}

// An enumerator over a list fixed when it was made; clones share the list and start at the
// clone's position.
template <class EnumInterface, class Element, class Held>
class CEnumerator final : public ComObject<CEnumerator<EnumInterface, Element, Held>>,
                          public EnumInterface {
  public:
    using Items = std::shared_ptr<const std::vector<Held>>;

    COM_DELEGATING_IUNKNOWN
    explicit CEnumerator(ComObjectArgs args) : ComObject<CEnumerator>(args) {}
    HRESULT InternalQueryInterface(REFIID riid, void** ppv) {
        return QueryInterfaceTable<EnumInterface>(this, riid, ppv);
    }

    static HRESULT Create(Items items, std::size_t position, EnumInterface** out) noexcept {
        ComPtr<EnumInterface> created;
        const HRESULT hr = ComObject<CEnumerator>::Create(&ComponentModule(), created);
        if (FAILED(hr)) return hr;
        auto* enumerator = static_cast<CEnumerator*>(created.Get());
        enumerator->items_ = std::move(items);
        enumerator->position_ = position;
        *out = created.Detach();
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE Next(ULONG count, Element* elements, ULONG* fetched) override {
        // As on Windows, the count of fetched elements may only be left out when one is asked.
        if (elements == nullptr || (fetched == nullptr && count != 1)) return E_POINTER;
        CriticalSectionLock guard(lock_);
        ULONG copied = 0;
        while (copied < count && position_ < items_->size()) {
            CopyOut((*items_)[position_++], elements[copied++]);
        }
        if (fetched != nullptr) *fetched = copied;
        return copied == count ? S_OK : S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE Skip(ULONG count) override {
        CriticalSectionLock guard(lock_);
        const std::size_t left = items_->size() - position_;
        if (count > left) {
            position_ = items_->size();
            return S_FALSE;
        }
        position_ += count;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Reset() override {
        CriticalSectionLock guard(lock_);
        position_ = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Clone(EnumInterface** copy) override {
        if (copy == nullptr) return E_POINTER;
        *copy = nullptr;
        CriticalSectionLock guard(lock_);
        return Create(items_, position_, copy);
    }

  private:
    CriticalSection lock_;
    Items items_;
    std::size_t position_ = 0;
};

using CEnumConnections = CEnumerator<IEnumConnections, CONNECTDATA, Connection>;
using CEnumConnectionPoints =
    CEnumerator<IEnumConnectionPoints, IConnectionPoint*, ComPtr<IConnectionPoint>>;

}  // namespace

HRESULT CConnectionPoint::QueryInterface(REFIID riid, void** ppv) {
    if (ppv == nullptr) return E_POINTER;
    if (riid != IID_IUnknown && riid != IID_IConnectionPoint) {
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    AddRef();
    *ppv = static_cast<IConnectionPoint*>(this);
    return S_OK;
}

HRESULT CConnectionPoint::GetConnectionInterface(IID* iid) {
    if (iid == nullptr) return E_POINTER;
    *iid = iid_;
    return S_OK;
}

HRESULT CConnectionPoint::GetConnectionPointContainer(IConnectionPointContainer** container) {
    if (container == nullptr) return E_POINTER;
    *container = ComPtr<IConnectionPointContainer>(container_).Detach();
    return S_OK;
}

HRESULT CConnectionPoint::Advise(IUnknown* sink, DWORD* cookie) {
    if (cookie != nullptr) *cookie = 0;
    if (sink == nullptr || cookie == nullptr) return E_POINTER;
    // Asked outside the lock; a refused or failed sink is released outside it too.
    ComPtr<IUnknown> events;
    const HRESULT hr = sink->QueryInterface(iid_, events.PutVoid());
    if (hr == E_NOINTERFACE) return CONNECT_E_CANNOTCONNECT;
    if (FAILED(hr)) return hr;
    if (!events) return CONNECT_E_CANNOTCONNECT;
    try {
        CriticalSectionLock guard(lock_);
        auto place = std::find(sinks_.begin(), sinks_.end(), nullptr);
        if (place == sinks_.end()) {
            if (sinks_.size() >= std::numeric_limits<DWORD>::max()) return CONNECT_E_ADVISELIMIT;
            sinks_.push_back(nullptr);
            place = sinks_.end() - 1;
        }
        *place = std::move(events);
        *cookie = static_cast<DWORD>(place - sinks_.begin()) + 1;
        return S_OK;
    } catch (const std::bad_alloc&) {
        return CONNECT_E_ADVISELIMIT;
    }
}

HRESULT CConnectionPoint::Unadvise(DWORD cookie) {
    ComPtr<IUnknown> released;  // released after the lock is left
    CriticalSectionLock guard(lock_);
    if (cookie == 0 || cookie > sinks_.size() || !sinks_[cookie - 1]) {
        return CONNECT_E_NOCONNECTION;
    }
    released.Swap(sinks_[cookie - 1]);
    return S_OK;
}

HRESULT CConnectionPoint::EnumConnections(IEnumConnections** connections) {
    if (connections == nullptr) return E_POINTER;
    *connections = nullptr;
    try {
        auto items = std::make_shared<std::vector<Connection>>();
        {
            CriticalSectionLock guard(lock_);
            for (std::size_t place = 0; place < sinks_.size(); ++place) {
                if (sinks_[place]) {
                    items->push_back({sinks_[place], static_cast<DWORD>(place + 1)});
                }
            }
        }
        return CEnumConnections::Create(std::move(items), 0, connections);
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
}

HRESULT FindConnectionPointIn(std::span<CConnectionPoint* const> points, REFIID riid,
                              IConnectionPoint** point) noexcept {
    if (point == nullptr) return E_POINTER;
    *point = nullptr;
    for (CConnectionPoint* candidate : points) {
        if (candidate->Interface() == riid) {
            *point = ComPtr<IConnectionPoint>(candidate).Detach();
            return S_OK;
        }
    }
    return CONNECT_E_NOCONNECTION;
}

HRESULT EnumConnectionPointsOf(std::span<CConnectionPoint* const> points,
                               IEnumConnectionPoints** enumerator) noexcept {
    if (enumerator == nullptr) return E_POINTER;
    *enumerator = nullptr;
    try {
        auto items = std::make_shared<std::vector<ComPtr<IConnectionPoint>>>();
        for (CConnectionPoint* point : points) items->emplace_back(point);
        return CEnumConnectionPoints::Create(std::move(items), 0, enumerator);
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
}
