// Driving a FlashFile5 object through its interfaces as a host does. mediakit, FlashFile5 and
// the two real stream classes are registered for the whole test program; a test that puts
// classes of its own in the stream classes' place revokes the real ones meanwhile
// (WithoutRealStreamClasses): COM finds the first registration of a class.
#pragma once

#include "frame/ErrorSupport.h"
#include "frame/Interfaces.h"
#include "tests/support/ComponentTestSupport.h"

ComPtr<IMediaSource> NewSource();
// Command 1 with `params`.
HRESULT Open(IMediaSource* source, IMediaParams* params);
// The numbers of video and audio tracks.
std::pair<int, int> Tracks(IMediaSource* source);
LONG Status(IMediaSource* source);

// `hr` is `expected` and the thread holds a FlashFile5 record with its message.
inline void ExpectSourceError(HRESULT hr, HRESULT expected) {
    ExpectError(hr, expected, IID_IFlashFile5);
}

// While one lives, the real stream classes are not registered.
class WithoutRealStreamClasses {
  public:
    WithoutRealStreamClasses();
    ~WithoutRealStreamClasses();
    WithoutRealStreamClasses(const WithoutRealStreamClasses&) = delete;
    WithoutRealStreamClasses& operator=(const WithoutRealStreamClasses&) = delete;
};

// The cache and lock folders, and the files of a test, in one temporary folder.
class SourceTest : public ::testing::Test, public CacheFolders {};
