#include <gtest/gtest.h>

#include "platform/Com.h"
#include "platform/ComObject.h"

// Interface identifiers are declared at global scope.
DECLARE_INTERFACE_ID(IFirst, "11111111-2222-3333-4444-555555555555");
struct IFirst : IUnknown {
    virtual int STDMETHODCALLTYPE First() = 0;
};
DECLARE_INTERFACE_ID(ISecond, "66666666-7777-8888-9999-AAAAAAAAAAAA");
struct ISecond : IUnknown {
    virtual int STDMETHODCALLTYPE Second() = 0;
};

namespace {
int g_destroyed = 0;

class CThing final : public ComObject<CThing>, public IFirst, public ISecond {
public:
    COM_DELEGATING_IUNKNOWN
    explicit CThing(ComObjectArgs args) : ComObject(args) {}
    ~CThing() { ++g_destroyed; }
    HRESULT InternalQueryInterface(REFIID riid, void** ppv) {
        return QueryInterfaceTable<IFirst, ISecond>(this, riid, ppv);
    }
    int STDMETHODCALLTYPE First() override { return 1; }
    int STDMETHODCALLTYPE Second() override { return 2; }
};

// An outer object that aggregates a CThing and exposes its interfaces as its own.
class COuter final : public ComObject<COuter> {
public:
    explicit COuter(ComObjectArgs args) : ComObject(args) {}
    HRESULT FinalConstruct() {
        return ComObject<CThing>::CreateInstance(nullptr, InnerUnknown(), IID_IUnknown, inner_.PutVoid());
    }
    HRESULT InternalQueryInterface(REFIID riid, void** ppv) { return inner_->QueryInterface(riid, ppv); }

private:
    ComPtr<IUnknown> inner_;
};
}  // namespace

TEST(ComObject, QueryInterfaceKeepsOneIdentityAndCountsReferences) {
    ComModule module;
    g_destroyed = 0;
    ComPtr<IFirst> first;
    ASSERT_EQ(ComObject<CThing>::Create(&module, first), S_OK);
    EXPECT_EQ(module.LockCount(), 1);
    ComPtr<ISecond> second = first.As<ISecond>();
    ASSERT_TRUE(second);
    EXPECT_EQ(second->Second(), 2);
    ComPtr<IUnknown> a = first.As<IUnknown>();
    ComPtr<IUnknown> b = second.As<IUnknown>();
    EXPECT_EQ(a.Get(), b.Get());
    ComPtr<IClassFactory> none;
    EXPECT_EQ(first.As(none), E_NOINTERFACE);
    EXPECT_FALSE(none);
    first.Reset();
    second.Reset();
    a.Reset();
    EXPECT_EQ(g_destroyed, 0);
    b.Reset();
    EXPECT_EQ(g_destroyed, 1);
    EXPECT_EQ(module.LockCount(), 0);
}

TEST(ComObject, AggregatedObjectDelegatesToItsOuterObject) {
    g_destroyed = 0;
    ComPtr<IUnknown> outer;
    ASSERT_EQ(ComObject<COuter>::CreateInstance(nullptr, nullptr, IID_IUnknown, outer.PutVoid()), S_OK);
    ComPtr<IFirst> first = outer.As<IFirst>();
    ASSERT_TRUE(first);
    EXPECT_EQ(first->First(), 1);
    // The inner interface's IUnknown is the outer object's.
    EXPECT_EQ(first.As<IUnknown>().Get(), outer.Get());
    first.Reset();
    outer.Reset();
    EXPECT_EQ(g_destroyed, 1);
}

TEST(ComObject, AggregationAsksForIUnknownOnly) {
    ComPtr<IUnknown> outer;
    ASSERT_EQ(ComObject<COuter>::CreateInstance(nullptr, nullptr, IID_IUnknown, outer.PutVoid()), S_OK);
    void* p = reinterpret_cast<void*>(1);
    EXPECT_EQ(ComObject<CThing>::CreateInstance(nullptr, outer.Get(), IID_OF(IFirst), &p), CLASS_E_NOAGGREGATION);
    EXPECT_EQ(p, nullptr);
}

TEST(ClassTable, RegisteredClassIsCreatedAndRevoked) {
    ComModule module;
    constexpr CLSID kClsid = MakeGuid("ABCDEF01-0000-0000-0000-000000000001");
    ComPtr<IClassFactory> factory;
    factory.Attach(new ClassFactory<CThing>(&module));
    DWORD cookie = 0;
    ASSERT_EQ(CoRegisterClassObject(kClsid, factory.Get(), CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE, &cookie), S_OK);
    ComPtr<ISecond> second;
    ASSERT_EQ(CreateInstance(kClsid, second), S_OK);
    EXPECT_EQ(second->Second(), 2);
    second.Reset();
    ASSERT_EQ(CoRevokeClassObject(cookie), S_OK);
    EXPECT_EQ(CreateInstance(kClsid, second), REGDB_E_CLASSNOTREG);
    EXPECT_FALSE(second);
}
