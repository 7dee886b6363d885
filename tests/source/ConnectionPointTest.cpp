// The _IFlashFile5Events connection point of a FlashFile5 object, through the connectable-object
// interfaces: finding and listing it, advising and unadvising sinks, the enumerators, and the
// point's hold on its object.
#include <atomic>
#include <vector>

#include "platform/ComObject.h"
#include "tests/source/SourceHarness.h"
#include "tests/support/FlvBuilder.h"

namespace {

// A sink that implements the event interface (or refuses it with `refusal`) and counts the
// calls it receives.
class Sink final : public ComObject<Sink>, public _IFlashFile5Events {
  public:
    COM_DELEGATING_IUNKNOWN
    explicit Sink(ComObjectArgs args) : ComObject(args) {}
    HRESULT InternalQueryInterface(REFIID riid, void** ppv) {
        if (refusal != S_OK && riid != IID_IUnknown) return refusal;
        return QueryInterfaceTable<IDispatch, _IFlashFile5Events>(this, riid, ppv);
    }
    static ComPtr<IUnknown> Make(HRESULT refusal = S_OK) {
        ComPtr<_IFlashFile5Events> sink;
        EXPECT_EQ(ComObject<Sink>::Create(nullptr, sink), S_OK);
        static_cast<Sink*>(sink.Get())->refusal = refusal;
        return sink.As<IUnknown>();
    }

    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*,
                                     UINT*) override {
        ++invoked;
        return S_OK;
    }

    static inline std::atomic<int> invoked{0};
    HRESULT refusal = S_OK;
};

class ConnectionPointTest : public SourceTest {
  protected:
    void SetUp() override {
        SourceTest::SetUp();
        source = NewSource();
        ASSERT_TRUE(source);
        ASSERT_EQ(source.As(container), S_OK);
        ASSERT_EQ(container->FindConnectionPoint(DIID__IFlashFile5Events, point.Put()), S_OK);
        ASSERT_TRUE(point);
    }
    // The cookies EnumConnections lists.
    std::vector<DWORD> Cookies() {
        ComPtr<IEnumConnections> connections;
        EXPECT_EQ(point->EnumConnections(connections.Put()), S_OK);
        std::vector<DWORD> cookies;
        CONNECTDATA data{};
        while (connections->Next(1, &data, nullptr) == S_OK) {
            ComPtr<IUnknown> sink;
            sink.Attach(data.pUnk);
            EXPECT_TRUE(sink);
            cookies.push_back(data.dwCookie);
        }
        return cookies;
    }

    ComPtr<IMediaSource> source;
    ComPtr<IConnectionPointContainer> container;
    ComPtr<IConnectionPoint> point;
};

TEST_F(ConnectionPointTest, TheContainerKnowsOnlyTheEventPoint) {
    ComPtr<IConnectionPoint> other = point;
    EXPECT_EQ(container->FindConnectionPoint(IID_IMediaSource, other.Put()),
              CONNECT_E_NOCONNECTION);
    EXPECT_FALSE(other);
    IID iid{};
    EXPECT_EQ(point->GetConnectionInterface(&iid), S_OK);
    EXPECT_EQ(iid, DIID__IFlashFile5Events);
    ComPtr<IConnectionPointContainer> back;
    EXPECT_EQ(point->GetConnectionPointContainer(back.Put()), S_OK);
    EXPECT_EQ(back.As<IUnknown>().Get(), source.As<IUnknown>().Get());

    ComPtr<IEnumConnectionPoints> points;
    ASSERT_EQ(container->EnumConnectionPoints(points.Put()), S_OK);
    IConnectionPoint* listed[2] = {};
    ULONG fetched = 0;
    EXPECT_EQ(points->Next(2, listed, &fetched), S_FALSE);
    ASSERT_EQ(fetched, 1u);
    ComPtr<IConnectionPoint> first;
    first.Attach(listed[0]);
    EXPECT_EQ(first.Get(), point.Get());
    EXPECT_EQ(points->Next(2, listed, nullptr), E_POINTER);
}

TEST_F(ConnectionPointTest, CookiesArePlacesInTheSinkList) {
    DWORD cookie = 99;
    EXPECT_EQ(point->Advise(Sink::Make(E_NOINTERFACE).Get(), &cookie), CONNECT_E_CANNOTCONNECT);
    EXPECT_EQ(cookie, 0u);
    EXPECT_EQ(point->Advise(Sink::Make(E_ACCESSDENIED).Get(), &cookie), E_ACCESSDENIED);
    EXPECT_EQ(point->Advise(nullptr, &cookie), E_POINTER);

    DWORD first = 0, second = 0, third = 0;
    ASSERT_EQ(point->Advise(Sink::Make().Get(), &first), S_OK);
    ASSERT_EQ(point->Advise(Sink::Make().Get(), &second), S_OK);
    EXPECT_EQ(first, 1u);
    EXPECT_EQ(second, 2u);
    EXPECT_EQ(point->Unadvise(first), S_OK);
    EXPECT_EQ(point->Unadvise(first), CONNECT_E_NOCONNECTION);
    EXPECT_EQ(point->Unadvise(0), CONNECT_E_NOCONNECTION);
    EXPECT_EQ(point->Unadvise(7), CONNECT_E_NOCONNECTION);
    EXPECT_EQ(Cookies(), std::vector<DWORD>{2});
    // A freed place is taken again.
    ASSERT_EQ(point->Advise(Sink::Make().Get(), &third), S_OK);
    EXPECT_EQ(third, 1u);
    EXPECT_EQ(Cookies(), (std::vector<DWORD>{1, 2}));
}

TEST_F(ConnectionPointTest, AdvisedSinksHearNothingAndThePointKeepsItsObject) {
    Sink::invoked = 0;
    DWORD cookie = 0;
    ASSERT_EQ(point->Advise(Sink::Make().Get(), &cookie), S_OK);
    FlvBuilder flv;
    for (std::uint32_t time = 0; time < 2000; time += 40) flv.Video(time, 1, 2, 100);
    ASSERT_EQ(Open(source.Get(), OpenParams(WriteFile("a.flv", flv.Bytes())).Get()), S_OK);
    ASSERT_EQ(source.As<IFlashFile5>()->ReOpenFile(), S_OK);
    EXPECT_EQ(Sink::invoked, 0);

    // The point counts on its object: released last, it takes the object (and the sink) along.
    source = nullptr;
    container = nullptr;
    IID iid{};
    EXPECT_EQ(point->GetConnectionInterface(&iid), S_OK);
    EXPECT_EQ(point->Unadvise(cookie), S_OK);
    point = nullptr;
}

}  // namespace
