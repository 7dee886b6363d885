// The loaded component's class objects: what DllGetClassObject answers, the module's lock count
// behind DllCanUnloadNow, each class aggregated in an outer object, the class named in error
// records, and the library's exported symbols.
#include <algorithm>
#include <vector>

#include "frame/ErrorSupport.h"
#include "platform/Bstr.h"
#include "platform/ComObject.h"
#include "platform/ErrorInfo.h"
#include "platform/TextConvert.h"
#include "tests/module/ComponentLibrary.h"

// What the outer object answers by itself: proof that a query went through the outer object.
DECLARE_INTERFACE_ID(IOuterMarker, "C4A7E1D2-5B3F-4E8A-9D6C-7F0B1A2E3D4C");
struct IOuterMarker : IUnknown {};

namespace {

struct ComponentClass {
    CLSID clsid;
    // What QueryInterface answers besides IUnknown; the class's own interface (the one its
    // error records name) first.
    std::vector<IID> interfaces;
};
const ComponentClass kClasses[] = {
    {CLSID_FlashFile5,
     {IID_IFlashFile5, IID_IMediaSource, IID_IMediaFileTemplate, IID_IConnectionPointContainer}},
    {CLSID_FlashAudioStream5, {IID_IFlashAudioStream5, IID_IMediaStream}},
    {CLSID_FlashVideoStream5, {IID_IFlashVideoStream5, IID_IMediaStream}},
};

// An outer object that aggregates one component object and hands out its interfaces.
class COuter final : public ComObject<COuter>, public IOuterMarker {
  public:
    COM_DELEGATING_IUNKNOWN
    explicit COuter(ComObjectArgs args) : ComObject(args) {}

    HRESULT InternalQueryInterface(REFIID riid, void** ppv) {
        if (riid == IID_OF(IOuterMarker)) return QueryInterfaceTable<IOuterMarker>(this, riid, ppv);
        return inner ? inner->QueryInterface(riid, ppv) : E_NOINTERFACE;
    }
    // The outer object's reference count, seen through AddRef's result.
    ULONG References() {
        const ULONG count = AddRef() - 1;
        Release();
        return count;
    }

    ComPtr<IUnknown> inner;  // the aggregated object's own (non-delegating) IUnknown
};

ComPtr<IUnknown> Query(IUnknown* object, REFIID riid) {
    ComPtr<IUnknown> result;
    const HRESULT hr = object->QueryInterface(riid, result.PutVoid());
    EXPECT_EQ(hr == S_OK, result.Get() != nullptr);
    return result;
}

class ClassObjectTest : public ComponentTest {};

TEST_F(ClassObjectTest, UnknownClassesAndNullOutPointersAreRefused) {
    void* object = reinterpret_cast<void*>(0x1);
    EXPECT_EQ(Component().getClassObject(MakeGuid("00112233-4455-6677-8899-AABBCCDDEEFF"),
                                         IID_IClassFactory, &object),
              MakeHResult(0x80040111u));
    EXPECT_EQ(object, nullptr);
    EXPECT_EQ(Component().getClassObject(CLSID_FlashFile5, IID_IClassFactory, nullptr), E_POINTER);
}

// One class object per class for the module's life, and the module's lock count: objects alive
// and server locks keep it loaded, a class object alone does not.
TEST_F(ClassObjectTest, TheModuleIsLockedWhileObjectsOrServerLocksLive) {
    for (const ComponentClass& entry : kClasses) {
        ComPtr<IClassFactory> factory = ComponentClassObject(entry.clsid);
        ASSERT_TRUE(factory);
        ComPtr<IUnknown> again;
        ASSERT_EQ(Component().getClassObject(entry.clsid, IID_IUnknown, again.PutVoid()), S_OK);
        EXPECT_EQ(Query(factory.Get(), IID_IUnknown).Get(), again.Get());
        EXPECT_EQ(Component().canUnloadNow(), S_OK);
        ComPtr<IUnknown> first, second;
        ASSERT_EQ(factory->CreateInstance(nullptr, entry.interfaces[0], first.PutVoid()), S_OK);
        ASSERT_EQ(factory->CreateInstance(nullptr, IID_IUnknown, second.PutVoid()), S_OK);
        first.Reset();
        EXPECT_EQ(Component().canUnloadNow(), S_FALSE);
        second.Reset();
        EXPECT_EQ(Component().canUnloadNow(), S_OK);
        ASSERT_EQ(factory->LockServer(TRUE), S_OK);
        ASSERT_EQ(factory->LockServer(TRUE), S_OK);
        ASSERT_EQ(factory->LockServer(FALSE), S_OK);
        EXPECT_EQ(Component().canUnloadNow(), S_FALSE);
        ASSERT_EQ(factory->LockServer(FALSE), S_OK);
        EXPECT_EQ(Component().canUnloadNow(), S_OK);
    }
}

TEST_F(ClassObjectTest, EveryClassWorksAggregated) {
    for (const ComponentClass& entry : kClasses) {
        ComPtr<IClassFactory> factory = ComponentClassObject(entry.clsid);
        ASSERT_TRUE(factory);
        ComPtr<IOuterMarker> marker;
        ASSERT_EQ(ComObject<COuter>::Create(nullptr, marker), S_OK);
        auto* outer = static_cast<COuter*>(marker.Get());
        ComPtr<IUnknown> outerIdentity = Query(marker.Get(), IID_IUnknown);
        // An aggregated object is created for IUnknown only.
        void* refused = reinterpret_cast<void*>(0x1);
        EXPECT_EQ(factory->CreateInstance(marker.Get(), entry.interfaces[0], &refused),
                  CLASS_E_NOAGGREGATION);
        EXPECT_EQ(refused, nullptr);
        ASSERT_EQ(factory->CreateInstance(marker.Get(), IID_IUnknown, outer->inner.PutVoid()),
                  S_OK);
        EXPECT_EQ(Component().canUnloadNow(), S_FALSE);
        // The inner IUnknown is the object's own identity and does not reach the outer object.
        EXPECT_EQ(Query(outer->inner.Get(), IID_IUnknown).Get(), outer->inner.Get());
        EXPECT_FALSE(Query(outer->inner.Get(), IID_OF(IOuterMarker)));
        for (const IID& iid : entry.interfaces) {
            // The outer object reaches each inner interface, whose IUnknown methods belong to the
            // outer object: its reference count, its identity and its own interfaces.
            const ULONG before = outer->References();
            ComPtr<IUnknown> reached = Query(marker.Get(), iid);
            ASSERT_TRUE(reached);
            EXPECT_EQ(Query(outer->inner.Get(), iid).Get(), reached.Get());
            EXPECT_EQ(outer->References(), before + 1);
            EXPECT_EQ(Query(reached.Get(), IID_IUnknown).Get(), outerIdentity.Get());
            EXPECT_TRUE(Query(reached.Get(), IID_OF(IOuterMarker)));
        }
        if (entry.clsid == CLSID_FlashFile5) {
            // The event point hands back its container: the outer object.
            ComPtr<IConnectionPointContainer> container;
            ASSERT_EQ(marker->QueryInterface(IID_IConnectionPointContainer, container.PutVoid()),
                      S_OK);
            ComPtr<IConnectionPoint> point;
            ASSERT_EQ(container->FindConnectionPoint(DIID__IFlashFile5Events, point.Put()), S_OK);
            ComPtr<IConnectionPointContainer> back;
            ASSERT_EQ(point->GetConnectionPointContainer(back.Put()), S_OK);
            EXPECT_TRUE(Query(back.Get(), IID_OF(IOuterMarker)));
        }
        // Releasing the outer object releases the inner one with it.
        outerIdentity.Reset();
        marker.Reset();
        EXPECT_EQ(Component().canUnloadNow(), S_OK);
    }
}

// An "Invalid operation." failure of an object of `clsid` that has no file open; the thread's
// error record's interface and source.
std::pair<GUID, std::wstring> FailWithoutFile(REFCLSID clsid) {
    ComPtr<IClassFactory> factory = ComponentClassObject(clsid);
    HRESULT hr = E_FAIL;
    if (clsid == CLSID_FlashFile5) {
        ComPtr<IMediaSource> source;
        if (factory->CreateInstance(nullptr, IID_IMediaSource, source.PutVoid()) == S_OK) {
            hr = source->SeekVideo(0, 0, 0.0);
        }
    } else {
        ComPtr<IMediaStream> stream;
        if (factory->CreateInstance(nullptr, IID_IMediaStream, stream.PutVoid()) == S_OK) {
            hr = stream->SendCommandEx(1006, nullptr, nullptr);  // refresh
        }
    }
    EXPECT_EQ(hr, ZEV_E_INVALIDOPERATION);
    std::pair<GUID, std::wstring> record{};
    ComPtr<IErrorInfo> info;
    EXPECT_EQ(GetErrorInfo(0, info.Put()), S_OK);
    Bstr text;
    if (!info) return record;
    EXPECT_EQ(info->GetDescription(text.Put()), S_OK);
    EXPECT_EQ(text.View(), L"Invalid operation.");
    EXPECT_EQ(info->GetGUID(&record.first), S_OK);
    EXPECT_EQ(info->GetSource(text.Put()), S_OK);
    record.second = std::wstring(text.View());
    return record;
}

TEST_F(ClassObjectTest, ErrorRecordsNameTheClassAndItsProgIDWhenOneIsRegistered) {
    for (const ComponentClass& entry : kClasses) {
        const auto [guid, source] = FailWithoutFile(entry.clsid);
        EXPECT_EQ(guid, entry.interfaces[0]);
        EXPECT_EQ(source, L"");  // no ProgID is registered
    }
    // The component looks the ProgID up in the process's registry.
    const ScopedRegistryKey registered(HKEY_CLASSES_ROOT,
                                       L"CLSID\\{2D955AA8-8E94-4A94-A669-C493B0730C20}\\ProgID",
                                       L"Zev.FlashVideoStream5.1");
    ASSERT_EQ(registered.Status(), ERROR_SUCCESS);
    EXPECT_EQ(FailWithoutFile(CLSID_FlashVideoStream5).second, L"Zev.FlashVideoStream5.1");
}

TEST_F(ClassObjectTest, TheLibraryExportsExactlyItsFiveEntryPoints) {
    std::vector<std::string> names = ExportedNames();
    if (names.empty()) GTEST_SKIP() << "the exports cannot be listed here";
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"DllCanUnloadNow", "DllGetClassObject", "DllInstall",
                                               "DllRegisterServer", "DllUnregisterServer"}));
}

}  // namespace
