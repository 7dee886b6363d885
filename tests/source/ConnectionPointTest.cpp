// The _IFlashFile5Events connection point of a FlashFile5 object, through the connectable-object
// interfaces: the results of finding, listing, advising and unadvising, and the point's hold on
// its object.
#include "platform/ComObject.h"
#include "tests/source/SourceHarness.h"

namespace {

// A sink that implements the event interface.
class Sink final : public ComObject<Sink>, public _IFlashFile5Events {
  public:
    COM_DELEGATING_IUNKNOWN
    explicit Sink(ComObjectArgs args) : ComObject(args) {}
    HRESULT InternalQueryInterface(REFIID riid, void** ppv) {
        return QueryInterfaceTable<IDispatch, _IFlashFile5Events>(this, riid, ppv);
    }
    static ComPtr<IUnknown> Make() {
        ComPtr<_IFlashFile5Events> sink;
        EXPECT_EQ(ComObject<Sink>::Create(nullptr, sink), S_OK);
        return sink.As<IUnknown>();
    }

    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*,
                                     UINT*) override {
        return E_NOTIMPL;
    }
};

// The container knows the event point only. An object without the event interface (the source
// itself) cannot connect (cookie 0). Cookies are places in the sink list: freed places are taken
// again; unknown cookies are refused. The point counts on its object: released last, it takes
// the object (and the sinks) along.
TEST(ConnectionPointTest, ResultsCookiesAndLifetime) {
    ComPtr<IMediaSource> source = NewSource();
    auto container = source.As<IConnectionPointContainer>();
    ComPtr<IConnectionPoint> point;
    EXPECT_EQ(container->FindConnectionPoint(IID_IMediaSource, point.Put()),
              CONNECT_E_NOCONNECTION);
    ASSERT_EQ(container->FindConnectionPoint(DIID__IFlashFile5Events, point.Put()), S_OK);
    DWORD cookie = 99;
    EXPECT_EQ(point->Advise(source.Get(), &cookie), CONNECT_E_CANNOTCONNECT);
    EXPECT_EQ(cookie, 0u);
    DWORD cookies[3] = {};
    for (DWORD& place : cookies) ASSERT_EQ(point->Advise(Sink::Make().Get(), &place), S_OK);
    EXPECT_EQ(point->Unadvise(cookies[0]), S_OK);
    for (DWORD unknown : {cookies[0], DWORD{0}, DWORD{7}})
        EXPECT_EQ(point->Unadvise(unknown), CONNECT_E_NOCONNECTION);
    ASSERT_EQ(point->Advise(Sink::Make().Get(), &cookie), S_OK);
    EXPECT_EQ(cookie, cookies[0]);

    source = nullptr;
    container = nullptr;
    EXPECT_EQ(point->Unadvise(cookie), S_OK);
}

}  // namespace
