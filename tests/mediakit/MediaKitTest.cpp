#include "tests/mediakit/MediaKitTestSupport.h"

// The library's entry points serve every class, and a live object keeps the library loaded.
TEST(MediaKit, EntryPointsServeEveryClass) {
    for (const CLSID& clsid :
         {CLSID_MediaParams, CLSID_VideoPacket, CLSID_AudioPacket, CLSID_VideoFormat,
          CLSID_AudioFormat, CLSID_AudioPacketQueue, CLSID_VideoDecoder, CLSID_AudioDecoder}) {
        ComPtr<IClassFactory> factory;
        ASSERT_EQ(DllGetClassObject(clsid, IID_IClassFactory, factory.PutVoid()), S_OK);
        ComPtr<IUnknown> object;
        EXPECT_EQ(factory->CreateInstance(nullptr, IID_IUnknown, object.PutVoid()), S_OK);
        EXPECT_EQ(DllCanUnloadNow(), S_FALSE);
    }
    EXPECT_EQ(DllCanUnloadNow(), S_OK);
}
