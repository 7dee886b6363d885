// A host thread in the multithreaded apartment creates FlashFile5 through the registry and uses
// it. Its classes are apartment-threaded: on Windows COM makes the object in an apartment of its
// own and hands the host a proxy, made from the component's proxy/stub (without one the
// creation fails with E_NOINTERFACE); the framework's containers and packets are free-threaded
// and cross as they are. On the stand-in, which has no apartments, the thread gets the object
// itself.
#include <thread>

#include "platform/Com.h"
#include "tests/module/ComponentLibrary.h"

namespace {
namespace fs = std::filesystem;

class MultithreadedHostTest : public ComponentTest {};

// Open, read the first frame (ffmpeg's) and 100 ms of sound, seek, and reach the other
// interfaces and a stream object: every call goes through a proxy on Windows.
void HostInTheMultithreadedApartment(const fs::path& file, const std::string& firstFrame) {
    ASSERT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
    {
        ComPtr<IMediaSource> source;
        ASSERT_EQ(CreateInstance(CLSID_FlashFile5, source), S_OK);
#ifdef _WIN32
        ComPtr<IUnknown> security;
        EXPECT_EQ(source->QueryInterface(IID_IClientSecurity, security.PutVoid()), S_OK)
            << "not a proxy";
#endif
        ASSERT_EQ(source->SendCommandEx(1, OpenParams(file).Get(), nullptr), S_OK);
        ComPtr<IUnknown> data;
        ASSERT_EQ(source->ReadVideo(0, 0, data.Put()), S_OK);
        const std::optional<ReadFrame> frame = FrameOf(data.Get());
        ASSERT_TRUE(frame);
        EXPECT_EQ(frame->md5, firstFrame);
        ASSERT_EQ(source->ReadAudio(0, 0, 100.0, data.Put()), S_OK);
        const std::optional<PcmPacket> block = PcmPacketOf(data.Get());
        ASSERT_TRUE(block);
        EXPECT_NEAR(block->duration, 100.0, 1.0);
        EXPECT_EQ(source->SeekVideo(-1, 0, 400.0), S_OK);
        ComPtr<IFlashFile5> flash;
        ASSERT_EQ(source.As(flash), S_OK);
        EXPECT_EQ(flash->ReOpenFile(), S_OK);
        ComPtr<IUnknown> videoStream;
        ASSERT_EQ(source->get_videoStream(0, 0, videoStream.Put()), S_OK);
        ComPtr<IMediaStream> stream;
        ASSERT_EQ(videoStream.As(stream), S_OK);
        ASSERT_EQ(stream->Read(0, 0.0, data.Put()), S_OK);
        EXPECT_TRUE(FrameOf(data.Get()));
        EXPECT_EQ(source->SendCommandEx(3, nullptr, nullptr), S_OK);
    }
    CoUninitialize();
}

TEST_F(MultithreadedHostTest, CreatesAndUsesFlashFile5ThroughTheRegistry) {
    ASSERT_EQ(Component().registerServer(), S_OK);
    const std::optional<fs::path> file = SampleFile();
    if (!file) GTEST_SKIP() << "ffmpeg is needed";
    const std::string firstFrame = PeerFrames(*file).at(0).md5;
    std::thread host(HostInTheMultithreadedApartment, *file, firstFrame);
    host.join();
}

}  // namespace
