// The loaded component's class objects: what DllGetClassObject answers, the module's lock count
// behind DllCanUnloadNow, each class aggregated in an outer object, the class named in error
// records, and the library's exported symbols.
#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>
#include <string>
#include <vector>

#include "frame/ErrorSupport.h"
#include "platform/Com.h"
#include "platform/ComObject.h"
#include "platform/ErrorInfo.h"
#include "platform/TextConvert.h"
#include "tests/module/ComponentLibrary.h"
#include "tests/support/FfmpegTools.h"

// What the outer object answers by itself: proof that a query went through the outer object.
DECLARE_INTERFACE_ID(IOuterMarker, "C4A7E1D2-5B3F-4E8A-9D6C-7F0B1A2E3D4C");
struct IOuterMarker : IUnknown {};

namespace {

struct ComponentClass {
    const char* name;
    CLSID clsid;
    std::vector<IID> interfaces;  // what QueryInterface answers besides IUnknown
};

const ComponentClass kClasses[] = {
    {"FlashFile5",
     CLSID_FlashFile5,
     {IID_IMediaSource, IID_IMediaFileTemplate, IID_IFlashFile5, IID_IConnectionPointContainer}},
    {"FlashAudioStream5", CLSID_FlashAudioStream5, {IID_IMediaStream, IID_IFlashAudioStream5}},
    {"FlashVideoStream5", CLSID_FlashVideoStream5, {IID_IMediaStream, IID_IFlashVideoStream5}},
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
    const CLSID unknown = MakeGuid("00112233-4455-6677-8899-AABBCCDDEEFF");
    void* object = reinterpret_cast<void*>(0x1);
    EXPECT_EQ(Component().getClassObject(unknown, IID_IClassFactory, &object),
              MakeHResult(0x80040111u));
    EXPECT_EQ(object, nullptr);
    EXPECT_EQ(Component().getClassObject(CLSID_FlashFile5, IID_IClassFactory, nullptr), E_POINTER);
    object = reinterpret_cast<void*>(0x1);
    EXPECT_EQ(Component().getClassObject(CLSID_FlashFile5, IID_IMediaSource, &object),
              E_NOINTERFACE);
    EXPECT_EQ(object, nullptr);
}

TEST_F(ClassObjectTest, EachClassHasOneClassObjectForTheModulesLife) {
    std::vector<IUnknown*> seen;
    for (const ComponentClass& entry : kClasses) {
        SCOPED_TRACE(entry.name);
        ComPtr<IClassFactory> first = ComponentClassObject(entry.clsid);
        ASSERT_TRUE(first);
        ComPtr<IUnknown> again;
        ASSERT_EQ(Component().getClassObject(entry.clsid, IID_IUnknown, again.PutVoid()), S_OK);
        EXPECT_EQ(Query(first.Get(), IID_IUnknown).Get(), again.Get());
        seen.push_back(again.Get());
    }
    // Released by everyone outside, each class object lives on in the module.
    ComPtr<IUnknown> later;
    ASSERT_EQ(Component().getClassObject(CLSID_FlashFile5, IID_IUnknown, later.PutVoid()), S_OK);
    EXPECT_EQ(later.Get(), seen[0]);
    EXPECT_NE(seen[0], seen[1]);
    EXPECT_NE(seen[1], seen[2]);
}

TEST_F(ClassObjectTest, TheModuleIsLockedWhileObjectsOrServerLocksLive) {
    for (const ComponentClass& entry : kClasses) {
        SCOPED_TRACE(entry.name);
        ComPtr<IClassFactory> factory = ComponentClassObject(entry.clsid);
        ASSERT_TRUE(factory);
        EXPECT_EQ(Component().canUnloadNow(), S_OK);  // a class object alone does not lock
        ComPtr<IUnknown> first, second;
        ASSERT_EQ(factory->CreateInstance(nullptr, entry.interfaces[0], first.PutVoid()), S_OK);
        ASSERT_EQ(factory->CreateInstance(nullptr, IID_IUnknown, second.PutVoid()), S_OK);
        EXPECT_EQ(Component().canUnloadNow(), S_FALSE);
        first.Reset();
        EXPECT_EQ(Component().canUnloadNow(), S_FALSE);
        second.Reset();
        EXPECT_EQ(Component().canUnloadNow(), S_OK);
        ASSERT_EQ(factory->LockServer(TRUE), S_OK);
        ASSERT_EQ(factory->LockServer(TRUE), S_OK);
        EXPECT_EQ(Component().canUnloadNow(), S_FALSE);
        ASSERT_EQ(factory->LockServer(FALSE), S_OK);
        EXPECT_EQ(Component().canUnloadNow(), S_FALSE);
        ASSERT_EQ(factory->LockServer(FALSE), S_OK);
        EXPECT_EQ(Component().canUnloadNow(), S_OK);
    }
}

TEST_F(ClassObjectTest, EveryClassWorksAggregated) {
    for (const ComponentClass& entry : kClasses) {
        SCOPED_TRACE(entry.name);
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

        // The inner IUnknown is the object's own: it answers the class's interfaces, not the
        // outer object's, and is its own identity.
        EXPECT_EQ(Query(outer->inner.Get(), IID_IUnknown).Get(), outer->inner.Get());
        EXPECT_FALSE(Query(outer->inner.Get(), IID_OF(IOuterMarker)));

        for (const IID& iid : entry.interfaces) {
            // The outer object reaches each interface of the inner one...
            const ULONG before = outer->References();
            ComPtr<IUnknown> reached = Query(marker.Get(), iid);
            ASSERT_TRUE(reached);
            EXPECT_EQ(Query(outer->inner.Get(), iid).Get(), reached.Get());
            // ...whose IUnknown methods belong to the outer object: its reference count, its
            // identity and its own interfaces.
            EXPECT_EQ(outer->References(), before + 1);
            EXPECT_EQ(Query(reached.Get(), IID_IUnknown).Get(), outerIdentity.Get());
            EXPECT_TRUE(Query(reached.Get(), IID_OF(IOuterMarker)));
        }

        // The aggregated object works through the interfaces the outer object hands out.
        if (entry.clsid == CLSID_FlashFile5) {
            ComPtr<IMediaFileTemplate> file;
            ASSERT_EQ(marker->QueryInterface(IID_IMediaFileTemplate, file.PutVoid()), S_OK);
            LONG type = 0;
            EXPECT_EQ(file->get_ContainerType(&type), S_OK);
            EXPECT_EQ(type, 141);
            // The event point hands back its container: the outer object.
            ComPtr<IConnectionPointContainer> container;
            ASSERT_EQ(marker->QueryInterface(IID_IConnectionPointContainer, container.PutVoid()),
                      S_OK);
            ComPtr<IConnectionPoint> point;
            ASSERT_EQ(container->FindConnectionPoint(DIID__IFlashFile5Events, point.Put()), S_OK);
            ComPtr<IConnectionPointContainer> back;
            ASSERT_EQ(point->GetConnectionPointContainer(back.Put()), S_OK);
            EXPECT_TRUE(Query(back.Get(), IID_OF(IOuterMarker)));
        } else {
            ComPtr<IMediaStream> stream;
            ASSERT_EQ(marker->QueryInterface(IID_IMediaStream, stream.PutVoid()), S_OK);
            LONG type = 0;
            EXPECT_EQ(stream->get_StreamType(&type), S_OK);
            EXPECT_EQ(type, entry.clsid == CLSID_FlashVideoStream5 ? 1 : 2);
        }

        // Releasing the outer object releases the inner one with it.
        outerIdentity.Reset();
        marker.Reset();
        EXPECT_EQ(Component().canUnloadNow(), S_OK);
    }
}

struct Record {
    GUID guid{};
    std::wstring source;
    std::wstring description;
};
Record TakeRecord() {
    Record record;
    ComPtr<IErrorInfo> info;
    EXPECT_EQ(GetErrorInfo(0, info.Put()), S_OK);
    if (!info) return record;
    Bstr source, description;
    EXPECT_EQ(info->GetGUID(&record.guid), S_OK);
    EXPECT_EQ(info->GetSource(source.Put()), S_OK);
    EXPECT_EQ(info->GetDescription(description.Put()), S_OK);
    record.source = std::wstring(source.View());
    record.description = std::wstring(description.View());
    return record;
}

// An "Invalid operation." failure of an object of `clsid` that has no file open.
HRESULT FailWithoutFile(REFCLSID clsid) {
    ComPtr<IClassFactory> factory = ComponentClassObject(clsid);
    if (clsid == CLSID_FlashFile5) {
        ComPtr<IMediaSource> source;
        EXPECT_EQ(factory->CreateInstance(nullptr, IID_IMediaSource, source.PutVoid()), S_OK);
        return source ? source->SeekVideo(0, 0, 0.0) : E_FAIL;
    }
    ComPtr<IMediaStream> stream;
    EXPECT_EQ(factory->CreateInstance(nullptr, IID_IMediaStream, stream.PutVoid()), S_OK);
    return stream ? stream->SendCommandEx(1006, nullptr, nullptr) : E_FAIL;  // refresh
}

TEST_F(ClassObjectTest, ErrorRecordsNameTheClassAndItsProgIDWhenOneIsRegistered) {
    const struct {
        CLSID clsid;
        IID privateInterface;
    } cases[] = {{CLSID_FlashFile5, IID_IFlashFile5},
                 {CLSID_FlashAudioStream5, IID_IFlashAudioStream5},
                 {CLSID_FlashVideoStream5, IID_IFlashVideoStream5}};
    for (const auto& entry : cases) {
        EXPECT_EQ(FailWithoutFile(entry.clsid), ZEV_E_INVALIDOPERATION);
        const Record record = TakeRecord();
        EXPECT_EQ(record.guid, entry.privateInterface);
        EXPECT_EQ(record.source, L"");  // no ProgID is registered
        EXPECT_EQ(record.description, L"Invalid operation.");
    }
    // The component looks the ProgID up in the process's registry.
    HKEY raw = nullptr;
    ASSERT_EQ(
        RegCreateKeyExW(HKEY_CLASSES_ROOT, L"CLSID\\{2D955AA8-8E94-4A94-A669-C493B0730C20}\\ProgID",
                        0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &raw, nullptr),
        static_cast<LONG>(ERROR_SUCCESS));
    UniqueRegistryKey key(raw);
    const std::wstring progId = L"Zev.FlashVideoStream5.1";
    ASSERT_EQ(
        RegSetValueExW(key.get(), nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(progId.c_str()),
                       static_cast<DWORD>((progId.size() + 1) * sizeof(wchar_t))),
        static_cast<LONG>(ERROR_SUCCESS));
    EXPECT_EQ(FailWithoutFile(CLSID_FlashVideoStream5), ZEV_E_INVALIDOPERATION);
    EXPECT_EQ(TakeRecord().source, progId);
}

TEST_F(ClassObjectTest, TheLibraryExportsExactlyItsFiveEntryPoints) {
    if (RunCommand("command -v nm >/dev/null 2>&1") != 0) GTEST_SKIP() << "nm is needed";
    std::string listing;
    ASSERT_EQ(RunCommand("nm -D --defined-only '" + WideToUtf8(ComponentPath()) + "'", &listing),
              0);
    std::vector<std::string> names;
    std::istringstream lines(listing);
    for (std::string line; std::getline(lines, line);) {
        const std::size_t last = line.find_last_of(' ');
        if (!line.empty()) names.push_back(line.substr(last == std::string::npos ? 0 : last + 1));
    }
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"DllCanUnloadNow", "DllGetClassObject", "DllInstall",
                                               "DllRegisterServer", "DllUnregisterServer"}));
}

}  // namespace
