#include <cstdlib>

#include "tests/mediakit/MediaKitTestSupport.h"
#include "tests/support/TempDir.h"

TEST(MediaKit, EntryPointsServeEveryClass) {
    const CLSID classes[] = {CLSID_MediaParams, CLSID_VideoPacket, CLSID_AudioPacket,
                             CLSID_VideoFormat, CLSID_AudioFormat, CLSID_AudioPacketQueue};
    for (const CLSID& clsid : classes) {
        ComPtr<IClassFactory> factory;
        ASSERT_EQ(DllGetClassObject(clsid, IID_IClassFactory, factory.PutVoid()), S_OK);
        ComPtr<IUnknown> object;
        EXPECT_EQ(factory->CreateInstance(nullptr, IID_IUnknown, object.PutVoid()), S_OK);
        EXPECT_EQ(DllCanUnloadNow(), S_FALSE);  // a live object keeps the library
    }
    EXPECT_EQ(DllCanUnloadNow(), S_OK);

    void* out = &out;
    EXPECT_EQ(DllGetClassObject(CLSID_AudioPacketQueue, IID_IClassFactory, nullptr), E_POINTER);
    EXPECT_EQ(DllGetClassObject(GUID_NULL, IID_IClassFactory, &out), CLASS_E_CLASSNOTAVAILABLE);
    EXPECT_EQ(out, nullptr);
}

TEST(MediaKit, RegistrationIsIdempotentAndRevocable) {
    // Empty registry hives, so that a class not registered in the process is not found there.
    TempDir hives;
    ASSERT_EQ(::setenv("ZEV_REGISTRY_MACHINE", (hives.Path() / "machine.reg").c_str(), 1), 0);
    ASSERT_EQ(::setenv("ZEV_REGISTRY_USER", (hives.Path() / "user.reg").c_str(), 1), 0);
    ASSERT_EQ(MediaKitRegisterClasses(), S_OK);
    ASSERT_EQ(MediaKitRegisterClasses(), S_OK);
    ComPtr<IMediaParams> params;
    EXPECT_EQ(CreateInstance(CLSID_MediaParams, params), S_OK);
    ASSERT_EQ(MediaKitRevokeClasses(), S_OK);
    // One revocation removes everything: nothing had been registered twice.
    EXPECT_TRUE(FAILED(CreateInstance(CLSID_MediaParams, params)));
    ASSERT_EQ(MediaKitRegisterClasses(), S_OK);
    EXPECT_EQ(CreateInstance(CLSID_MediaParams, params), S_OK);
    ::unsetenv("ZEV_REGISTRY_MACHINE");
    ::unsetenv("ZEV_REGISTRY_USER");
}
