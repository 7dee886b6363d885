// The connectable-object interfaces (a container of connection points, each of which keeps the
// sinks advised to one outgoing interface), in Windows slot order. Declarations only.
#pragma once

#include "platform/posix/Unknown.h"

// One advised sink: its reference (AddRef'ed for the receiver of the record) and its cookie.
struct CONNECTDATA {
    IUnknown* pUnk;
    DWORD dwCookie;
};

struct IConnectionPoint;

DECLARE_INTERFACE_ID(IEnumConnections, "B196B287-BAB4-101A-B69C-00AA00341D07");
struct IEnumConnections : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE Next(ULONG count, CONNECTDATA* connections,
                                           ULONG* fetched) = 0;            // 3
    virtual HRESULT STDMETHODCALLTYPE Skip(ULONG count) = 0;               // 4
    virtual HRESULT STDMETHODCALLTYPE Reset() = 0;                         // 5
    virtual HRESULT STDMETHODCALLTYPE Clone(IEnumConnections** copy) = 0;  // 6
};

DECLARE_INTERFACE_ID(IEnumConnectionPoints, "B196B285-BAB4-101A-B69C-00AA00341D07");
struct IEnumConnectionPoints : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE Next(ULONG count, IConnectionPoint** points,
                                           ULONG* fetched) = 0;                 // 3
    virtual HRESULT STDMETHODCALLTYPE Skip(ULONG count) = 0;                    // 4
    virtual HRESULT STDMETHODCALLTYPE Reset() = 0;                              // 5
    virtual HRESULT STDMETHODCALLTYPE Clone(IEnumConnectionPoints** copy) = 0;  // 6
};

DECLARE_INTERFACE_ID(IConnectionPointContainer, "B196B284-BAB4-101A-B69C-00AA00341D07");
struct IConnectionPointContainer : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE
    EnumConnectionPoints(IEnumConnectionPoints** points) = 0;  // 3
    virtual HRESULT STDMETHODCALLTYPE FindConnectionPoint(REFIID riid,
                                                          IConnectionPoint** point) = 0;  // 4
};

DECLARE_INTERFACE_ID(IConnectionPoint, "B196B286-BAB4-101A-B69C-00AA00341D07");
struct IConnectionPoint : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE GetConnectionInterface(IID* iid) = 0;  // 3
    virtual HRESULT STDMETHODCALLTYPE
    GetConnectionPointContainer(IConnectionPointContainer** container) = 0;                 // 4
    virtual HRESULT STDMETHODCALLTYPE Advise(IUnknown* sink, DWORD* cookie) = 0;            // 5
    virtual HRESULT STDMETHODCALLTYPE Unadvise(DWORD cookie) = 0;                           // 6
    virtual HRESULT STDMETHODCALLTYPE EnumConnections(IEnumConnections** connections) = 0;  // 7
};

constexpr IID IID_IConnectionPointContainer = IID_OF(IConnectionPointContainer);
constexpr IID IID_IConnectionPoint = IID_OF(IConnectionPoint);
constexpr IID IID_IEnumConnections = IID_OF(IEnumConnections);
constexpr IID IID_IEnumConnectionPoints = IID_OF(IEnumConnectionPoints);
