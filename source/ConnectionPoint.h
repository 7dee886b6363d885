// A connection point for one outgoing interface, embedded in the object that offers it, and the
// pieces of the connectable-object protocol around it: the container methods (find and list the
// points) and the two enumerators.
//
// The owner embeds one CConnectionPoint per outgoing interface and answers
// IConnectionPointContainer with FindConnectionPointIn and EnumConnectionPointsOf. The point is a
// COM object of its own identity (QueryInterface answers IUnknown and IConnectionPoint with the
// point), but it counts its references on the owner: a host that keeps a point keeps the owner
// alive, so no point outlives the object it is embedded in.
//
// Sinks: Advise asks the sink for the outgoing interface and keeps that reference in a list in
// which a released place stays empty until the next Advise takes it; the cookie is the 1-based
// place. The list is guarded by the owner's critical section; sinks are asked for the interface
// and released outside it, so a sink that calls back into the owner cannot deadlock.
#pragma once

#include <span>
#include <vector>

#include "platform/ComPtr.h"
#include "platform/ConnectionPoint.h"
#include "platform/CriticalSection.h"

class CConnectionPoint final : public IConnectionPoint {
  public:
    // `container` is the owner's container interface (its references are the point's), `iid` the
    // outgoing interface, `lock` the owner's critical section. All three outlive the point.
    CConnectionPoint(IConnectionPointContainer* container, REFIID iid, CriticalSection& lock)
        : container_(container), iid_(iid), lock_(lock) {}
    ~CConnectionPoint() = default;
    CConnectionPoint(const CConnectionPoint&) = delete;
    CConnectionPoint& operator=(const CConnectionPoint&) = delete;

    REFIID Interface() const noexcept { return iid_; }

    // IUnknown
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override;
    ULONG STDMETHODCALLTYPE AddRef() override { return container_->AddRef(); }
    ULONG STDMETHODCALLTYPE Release() override { return container_->Release(); }

    // IConnectionPoint
    HRESULT STDMETHODCALLTYPE GetConnectionInterface(IID* iid) override;
    HRESULT STDMETHODCALLTYPE
    GetConnectionPointContainer(IConnectionPointContainer** container) override;
    // E_POINTER for a null sink or cookie; CONNECT_E_CANNOTCONNECT when the sink answers
    // E_NOINTERFACE for the outgoing interface, its own failure otherwise;
    // CONNECT_E_ADVISELIMIT when the list cannot take it.
    HRESULT STDMETHODCALLTYPE Advise(IUnknown* sink, DWORD* cookie) override;
    // CONNECT_E_NOCONNECTION for a cookie that names no advised sink.
    HRESULT STDMETHODCALLTYPE Unadvise(DWORD cookie) override;
    HRESULT STDMETHODCALLTYPE EnumConnections(IEnumConnections** connections) override;

  private:
    IConnectionPointContainer* container_;
    const IID iid_;
    CriticalSection& lock_;
    // Place i holds the sink of cookie i + 1, or null when that cookie was unadvised.
    std::vector<ComPtr<IUnknown>> sinks_;
};

// IConnectionPointContainer::FindConnectionPoint over the owner's points: the point of `riid`
// with a new reference, CONNECT_E_NOCONNECTION (and null) when none is for that interface.
HRESULT FindConnectionPointIn(std::span<CConnectionPoint* const> points, REFIID riid,
                              IConnectionPoint** point) noexcept;
// IConnectionPointContainer::EnumConnectionPoints over the owner's points.
HRESULT EnumConnectionPointsOf(std::span<CConnectionPoint* const> points,
                               IEnumConnectionPoints** enumerator) noexcept;
