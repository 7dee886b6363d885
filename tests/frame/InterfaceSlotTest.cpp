// Every listed slot of the catalogue's interfaces, called through the raw vtable as a host does:
// each slot is called with the parameter types of its row, and the object records which method
// ran and the arguments it received. A method declared out of order, or with another parameter
// type, records another name or garbled arguments.
#include <gtest/gtest.h>

#include <cstdint>
#include <sstream>
#include <string>

#include "frame/Interfaces.h"

namespace {
// Recognisable pointers; nothing is ever read through them.
IUnknown* const kUnknown = reinterpret_cast<IUnknown*>(0x1000);
IUnknown** const kOut = reinterpret_cast<IUnknown**>(0x2000);
LONG* const kLongOut = reinterpret_cast<LONG*>(0x3000);
double* const kDoubleOut = reinterpret_cast<double*>(0x4000);
VARIANT_BOOL* const kBoolOut = reinterpret_cast<VARIANT_BOOL*>(0x5000);
ULONGLONG* const kUInt64Out = reinterpret_cast<ULONGLONG*>(0x6000);
VARIANT* const kVariantOut = reinterpret_cast<VARIANT*>(0x7000);
const BSTR kName = reinterpret_cast<BSTR>(0x8000);
constexpr ULONGLONG kCommand = 0x100000003ull;  // a command beyond 32 bits

VARIANT LongVariant() {
    VARIANT value;
    VariantInit(&value);
    value.vt = VT_I4;
    value.lVal = 42;
    return value;
}

void Describe(std::ostream& out, const VARIANT& value) {
    out << "V" << value.vt << ":" << value.lVal;
}
template <class T>
void Describe(std::ostream& out, T* pointer) {
    out << std::hex << "0x" << reinterpret_cast<std::uintptr_t>(pointer) << std::dec;
}
template <class T>
void Describe(std::ostream& out, T value) {
    out << value;
}

// What the last call recorded: "Name(arg,arg,...)".
std::string g_lastCall;

template <class... Args>
HRESULT Record(const char* name, Args... args) {
    std::ostringstream out;
    out << name << "(";
    const char* separator = "";
    ((out << separator, Describe(out, args), separator = ","), ...);
    (void)separator;  // unused when there are no arguments
    out << ")";
    g_lastCall = out.str();
    return S_OK;
}

// Calls slot `slot` of `object`'s vtable as a C caller does: `this` first, then the arguments.
template <class Interface, class... Args>
std::string CallSlot(Interface* object, int slot, Args... args) {
    using Method = HRESULT (*)(Interface*, Args...);
    void** vtable = *reinterpret_cast<void***>(object);
    g_lastCall = "(nothing)";
    reinterpret_cast<Method>(vtable[slot])(object, args...);
    return g_lastCall;
}

// One object with the interfaces of FlashFile5; each method records itself.
class SourceRecorder final : public IMediaSource, public IMediaFileTemplate, public IFlashFile5 {
  public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void**) override { return E_NOTIMPL; }
    ULONG STDMETHODCALLTYPE AddRef() override { return 1; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }

    HRESULT STDMETHODCALLTYPE SendCommandEx(ULONGLONG c, IUnknown* p, IUnknown** o) override {
        return Record("SendCommandEx", c, p, o);
    }
    HRESULT STDMETHODCALLTYPE get_videoTracksCount(LONG* v) override {
        return Record("get_videoTracksCount", v);
    }
    HRESULT STDMETHODCALLTYPE put_videoTracksCount(LONG v) override {
        return Record("put_videoTracksCount", v);
    }
    HRESULT STDMETHODCALLTYPE get_audioTracksCount(LONG* v) override {
        return Record("get_audioTracksCount", v);
    }
    HRESULT STDMETHODCALLTYPE put_audioTracksCount(LONG v) override {
        return Record("put_audioTracksCount", v);
    }
    HRESULT STDMETHODCALLTYPE get_dataTracksCount(LONG* v) override {
        return Record("get_dataTracksCount", v);
    }
    HRESULT STDMETHODCALLTYPE put_dataTracksCount(LONG v) override {
        return Record("put_dataTracksCount", v);
    }
    HRESULT STDMETHODCALLTYPE get_videoTrack(LONG* v) override {
        return Record("get_videoTrack", v);
    }
    HRESULT STDMETHODCALLTYPE put_videoTrack(LONG v) override {
        return Record("put_videoTrack", v);
    }
    HRESULT STDMETHODCALLTYPE get_audioTrack(LONG* v) override {
        return Record("get_audioTrack", v);
    }
    HRESULT STDMETHODCALLTYPE put_audioTrack(LONG v) override {
        return Record("put_audioTrack", v);
    }
    HRESULT STDMETHODCALLTYPE get_dataTrack(LONG* v) override { return Record("get_dataTrack", v); }
    HRESULT STDMETHODCALLTYPE put_dataTrack(LONG v) override { return Record("put_dataTrack", v); }
    HRESULT STDMETHODCALLTYPE get_videoStream(LONG m, LONG s, IUnknown** o) override {
        return Record("get_videoStream", m, s, o);
    }
    HRESULT STDMETHODCALLTYPE get_audioStream(LONG m, LONG s, IUnknown** o) override {
        return Record("get_audioStream", m, s, o);
    }
    HRESULT STDMETHODCALLTYPE get_dataStream(LONG m, LONG s, IUnknown** o) override {
        return Record("get_dataStream", m, s, o);
    }
    HRESULT STDMETHODCALLTYPE ResetBuffers(LONG s, LONG f) override {
        return Record("ResetBuffers", s, f);
    }
    HRESULT STDMETHODCALLTYPE get_IsSeekable(LONG s, LONG f, VARIANT_BOOL* v) override {
        return Record("get_IsSeekable", s, f, v);
    }
    HRESULT STDMETHODCALLTYPE SeekVideo(LONG s, LONG f, double t) override {
        return Record("SeekVideo", s, f, t);
    }
    HRESULT STDMETHODCALLTYPE SeekAudio(LONG s, LONG f, double t) override {
        return Record("SeekAudio", s, f, t);
    }
    HRESULT STDMETHODCALLTYPE SeekData(LONG s, LONG f, double t) override {
        return Record("SeekData", s, f, t);
    }
    HRESULT STDMETHODCALLTYPE SkipVideo(LONG s, LONG f, double d) override {
        return Record("SkipVideo", s, f, d);
    }
    HRESULT STDMETHODCALLTYPE SkipAudio(LONG s, LONG f, double d) override {
        return Record("SkipAudio", s, f, d);
    }
    HRESULT STDMETHODCALLTYPE SkipData(LONG s, LONG f, double d) override {
        return Record("SkipData", s, f, d);
    }
    HRESULT STDMETHODCALLTYPE ReadVideo(LONG s, LONG f, IUnknown** o) override {
        return Record("ReadVideo", s, f, o);
    }
    HRESULT STDMETHODCALLTYPE ReadAudio(LONG s, LONG f, double d, IUnknown** o) override {
        return Record("ReadAudio", s, f, d, o);
    }
    HRESULT STDMETHODCALLTYPE ReadData(LONG s, LONG f, IUnknown** o) override {
        return Record("ReadData", s, f, o);
    }
    HRESULT STDMETHODCALLTYPE get_videoDuration(LONG s, double* v) override {
        return Record("get_videoDuration", s, v);
    }
    HRESULT STDMETHODCALLTYPE get_audioDuration(LONG s, double* v) override {
        return Record("get_audioDuration", s, v);
    }
    HRESULT STDMETHODCALLTYPE get_dataDuration(LONG s, double* v) override {
        return Record("get_dataDuration", s, v);
    }
    HRESULT STDMETHODCALLTYPE get_videoTime(LONG s, double* v) override {
        return Record("get_videoTime", s, v);
    }
    HRESULT STDMETHODCALLTYPE get_audioTime(LONG s, double* v) override {
        return Record("get_audioTime", s, v);
    }
    HRESULT STDMETHODCALLTYPE get_dataTime(LONG s, double* v) override {
        return Record("get_dataTime", s, v);
    }
    HRESULT STDMETHODCALLTYPE get_videoFormat(LONG s, IUnknown** v) override {
        return Record("get_videoFormat", s, v);
    }
    HRESULT STDMETHODCALLTYPE put_videoFormat(LONG s, IUnknown* v) override {
        return Record("put_videoFormat", s, v);
    }
    HRESULT STDMETHODCALLTYPE get_audioFormat(LONG s, IUnknown** v) override {
        return Record("get_audioFormat", s, v);
    }
    HRESULT STDMETHODCALLTYPE put_audioFormat(LONG s, IUnknown* v) override {
        return Record("put_audioFormat", s, v);
    }
    HRESULT STDMETHODCALLTYPE get_dataFormat(LONG s, IUnknown** v) override {
        return Record("get_dataFormat", s, v);
    }
    HRESULT STDMETHODCALLTYPE put_dataFormat(LONG s, IUnknown* v) override {
        return Record("put_dataFormat", s, v);
    }
    HRESULT STDMETHODCALLTYPE get_videoTransform(LONG s, IUnknown** v) override {
        return Record("get_videoTransform", s, v);
    }
    HRESULT STDMETHODCALLTYPE get_audioTransform(LONG s, IUnknown** v) override {
        return Record("get_audioTransform", s, v);
    }
    HRESULT STDMETHODCALLTYPE get_dataTransform(LONG s, IUnknown** v) override {
        return Record("get_dataTransform", s, v);
    }
    HRESULT STDMETHODCALLTYPE SetParam(BSTR n, VARIANT v) override {
        return Record("SetParam", n, v);
    }
    HRESULT STDMETHODCALLTYPE GetParam(BSTR n, VARIANT* v) override {
        return Record("GetParam", n, v);
    }

    HRESULT STDMETHODCALLTYPE get_availableVideoCodecsCount(LONG* v) override {
        return Record("get_availableVideoCodecsCount", v);
    }
    HRESULT STDMETHODCALLTYPE get_availableAudioCodecsCount(LONG* v) override {
        return Record("get_availableAudioCodecsCount", v);
    }
    HRESULT STDMETHODCALLTYPE get_availableDataCodecsCount(LONG* v) override {
        return Record("get_availableDataCodecsCount", v);
    }
    HRESULT STDMETHODCALLTYPE get_availableVideoFormatsCount(LONG c, LONG* v) override {
        return Record("get_availableVideoFormatsCount", c, v);
    }
    HRESULT STDMETHODCALLTYPE get_availableAudioFormatsCount(LONG c, LONG* v) override {
        return Record("get_availableAudioFormatsCount", c, v);
    }
    HRESULT STDMETHODCALLTYPE get_availableDataFormatsCount(LONG c, LONG* v) override {
        return Record("get_availableDataFormatsCount", c, v);
    }
    HRESULT STDMETHODCALLTYPE get_availableVideoFormat(LONG c, LONG i, IUnknown** v) override {
        return Record("get_availableVideoFormat", c, i, v);
    }
    HRESULT STDMETHODCALLTYPE get_availableAudioFormat(LONG c, LONG i, IUnknown** v) override {
        return Record("get_availableAudioFormat", c, i, v);
    }
    HRESULT STDMETHODCALLTYPE get_availableDataFormat(LONG c, LONG i, IUnknown** v) override {
        return Record("get_availableDataFormat", c, i, v);
    }
    HRESULT STDMETHODCALLTYPE get_Status(LONG* v) override { return Record("get_Status", v); }
    HRESULT STDMETHODCALLTYPE get_ContainerType(LONG* v) override {
        return Record("get_ContainerType", v);
    }
    HRESULT STDMETHODCALLTYPE put_ContainerType(LONG v) override {
        return Record("put_ContainerType", v);
    }
    HRESULT STDMETHODCALLTYPE get_ContainerDesc(IUnknown** v) override {
        return Record("get_ContainerDesc", v);
    }
    HRESULT STDMETHODCALLTYPE put_ContainerDesc(IUnknown* v) override {
        return Record("put_ContainerDesc", v);
    }
    HRESULT STDMETHODCALLTYPE WriteVideo(LONG s, LONG f, IUnknown* d) override {
        return Record("WriteVideo", s, f, d);
    }
    HRESULT STDMETHODCALLTYPE WriteAudio(LONG s, LONG f, IUnknown* d) override {
        return Record("WriteAudio", s, f, d);
    }
    HRESULT STDMETHODCALLTYPE WriteData(LONG s, LONG f, IUnknown* d) override {
        return Record("WriteData", s, f, d);
    }
    HRESULT STDMETHODCALLTYPE get_Profile(IUnknown** v) override {
        return Record("get_Profile", v);
    }
    HRESULT STDMETHODCALLTYPE put_Profile(IUnknown* v) override { return Record("put_Profile", v); }

    HRESULT STDMETHODCALLTYPE ReOpenFile() override { return Record("ReOpenFile"); }
};

class StreamRecorder final : public IMediaStream {
  public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void**) override { return E_NOTIMPL; }
    ULONG STDMETHODCALLTYPE AddRef() override { return 1; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE SendCommandEx(ULONGLONG c, IUnknown* p, IUnknown** o) override {
        return Record("SendCommandEx", c, p, o);
    }
    HRESULT STDMETHODCALLTYPE get_Status(LONG* v) override { return Record("get_Status", v); }
    HRESULT STDMETHODCALLTYPE get_StreamType(LONG* v) override {
        return Record("get_StreamType", v);
    }
    HRESULT STDMETHODCALLTYPE get_Capabilities(LONG f, ULONGLONG* v) override {
        return Record("get_Capabilities", f, v);
    }
    HRESULT STDMETHODCALLTYPE get_Duration(double* v) override { return Record("get_Duration", v); }
    HRESULT STDMETHODCALLTYPE get_Time(double* v) override { return Record("get_Time", v); }
    HRESULT STDMETHODCALLTYPE Seek(LONG f, double t) override { return Record("Seek", f, t); }
    HRESULT STDMETHODCALLTYPE Skip(LONG f, double d) override { return Record("Skip", f, d); }
    HRESULT STDMETHODCALLTYPE Read(LONG f, double d, IUnknown** o) override {
        return Record("Read", f, d, o);
    }
    HRESULT STDMETHODCALLTYPE Write(LONG f, IUnknown* d) override { return Record("Write", f, d); }
    HRESULT STDMETHODCALLTYPE Reset(LONG f) override { return Record("Reset", f); }
    HRESULT STDMETHODCALLTYPE SetParam(BSTR n, VARIANT v) override {
        return Record("SetParam", n, v);
    }
    HRESULT STDMETHODCALLTYPE GetParam(BSTR n, VARIANT* v) override {
        return Record("GetParam", n, v);
    }
};

// The rows shared by IMediaSource and IMediaFileTemplate, called on `object` at the slots the
// two interfaces give them.
struct SharedSlots {
    int tracks;     // get_videoTracksCount: the first of the twelve track accessors
    int streams;    // get_videoStream
    int moves;      // ResetBuffers: then IsSeekable, Seek*, Skip*, Read*
    int durations;  // get_videoDuration: the six duration and time getters
    int formats;    // get_videoFormat: the six format accessors, the three transforms, the params
};

template <class Interface>
void CheckSharedSlots(Interface* object, const SharedSlots& at) {
    const VARIANT value = LongVariant();
    EXPECT_EQ(CallSlot(object, 3, kCommand, kUnknown, kOut),
              "SendCommandEx(4294967299,0x1000,0x2000)");
    const char* tracks[] = {"videoTracksCount", "audioTracksCount", "dataTracksCount",
                            "videoTrack",       "audioTrack",       "dataTrack"};
    for (int i = 0; i < 6; ++i) {
        EXPECT_EQ(CallSlot(object, at.tracks + 2 * i, kLongOut),
                  std::string("get_") + tracks[i] + "(0x3000)");
        EXPECT_EQ(CallSlot(object, at.tracks + 2 * i + 1, LONG{-7}),
                  std::string("put_") + tracks[i] + "(-7)");
    }
    const char* kinds[] = {"video", "audio", "data"};
    const char* upperKinds[] = {"Video", "Audio", "Data"};
    for (int i = 0; i < 3; ++i) {
        const std::string kind = kinds[i];
        const std::string upper = upperKinds[i];
        EXPECT_EQ(CallSlot(object, at.streams + i, LONG{1}, LONG{-2}, kOut),
                  "get_" + kind + "Stream(1,-2,0x2000)");
        EXPECT_EQ(CallSlot(object, at.moves + 2 + i, LONG{-1}, LONG{4}, 1.5),
                  "Seek" + upper + "(-1,4,1.5)");
        EXPECT_EQ(CallSlot(object, at.moves + 5 + i, LONG{-1}, LONG{4}, 2.5),
                  "Skip" + upper + "(-1,4,2.5)");
        EXPECT_EQ(CallSlot(object, at.durations + i, LONG{3}, kDoubleOut),
                  "get_" + kind + "Duration(3,0x4000)");
        EXPECT_EQ(CallSlot(object, at.durations + 3 + i, LONG{3}, kDoubleOut),
                  "get_" + kind + "Time(3,0x4000)");
        EXPECT_EQ(CallSlot(object, at.formats + 2 * i, LONG{5}, kOut),
                  "get_" + kind + "Format(5,0x2000)");
        EXPECT_EQ(CallSlot(object, at.formats + 2 * i + 1, LONG{5}, kUnknown),
                  "put_" + kind + "Format(5,0x1000)");
        EXPECT_EQ(CallSlot(object, at.formats + 6 + i, LONG{5}, kOut),
                  "get_" + kind + "Transform(5,0x2000)");
    }
    EXPECT_EQ(CallSlot(object, at.moves, LONG{-2}, LONG{9}), "ResetBuffers(-2,9)");
    EXPECT_EQ(CallSlot(object, at.moves + 1, LONG{0}, LONG{9}, kBoolOut),
              "get_IsSeekable(0,9,0x5000)");
    EXPECT_EQ(CallSlot(object, at.moves + 8, LONG{0}, LONG{1}, kOut), "ReadVideo(0,1,0x2000)");
    EXPECT_EQ(CallSlot(object, at.moves + 9, LONG{0}, LONG{1}, 40.0, kOut),
              "ReadAudio(0,1,40,0x2000)");
    EXPECT_EQ(CallSlot(object, at.moves + 10, LONG{0}, LONG{1}, kOut), "ReadData(0,1,0x2000)");
    EXPECT_EQ(CallSlot(object, at.formats + 9, kName, value), "SetParam(0x8000,V3:42)");
    EXPECT_EQ(CallSlot(object, at.formats + 10, kName, kVariantOut), "GetParam(0x8000,0x7000)");
}
}  // namespace

TEST(InterfaceSlots, MediaSource) {
    SourceRecorder recorder;
    IMediaSource* source = &recorder;
    CheckSharedSlots(source,
                     {.tracks = 4, .streams = 16, .moves = 19, .durations = 30, .formats = 36});
    EXPECT_EQ(CallSlot(source, 46, kName, kVariantOut), "GetParam(0x8000,0x7000)");  // 44 methods
}

TEST(InterfaceSlots, MediaFileTemplate) {
    SourceRecorder recorder;
    IMediaFileTemplate* file = &recorder;
    CheckSharedSlots(file,
                     {.tracks = 18, .streams = 30, .moves = 33, .durations = 47, .formats = 55});
    const char* kinds[] = {"Video", "Audio", "Data"};
    for (int i = 0; i < 3; ++i) {
        const std::string kind = kinds[i];
        EXPECT_EQ(CallSlot(file, 4 + i, kLongOut), "get_available" + kind + "CodecsCount(0x3000)");
        EXPECT_EQ(CallSlot(file, 7 + i, LONG{6}, kLongOut),
                  "get_available" + kind + "FormatsCount(6,0x3000)");
        EXPECT_EQ(CallSlot(file, 10 + i, LONG{6}, LONG{2}, kOut),
                  "get_available" + kind + "Format(6,2,0x2000)");
        EXPECT_EQ(CallSlot(file, 44 + i, LONG{1}, LONG{0}, kUnknown),
                  "Write" + kind + "(1,0,0x1000)");
    }
    EXPECT_EQ(CallSlot(file, 13, kLongOut), "get_Status(0x3000)");
    EXPECT_EQ(CallSlot(file, 14, kLongOut), "get_ContainerType(0x3000)");
    EXPECT_EQ(CallSlot(file, 15, LONG{141}), "put_ContainerType(141)");
    EXPECT_EQ(CallSlot(file, 16, kOut), "get_ContainerDesc(0x2000)");
    EXPECT_EQ(CallSlot(file, 17, kUnknown), "put_ContainerDesc(0x1000)");
    EXPECT_EQ(CallSlot(file, 53, kOut), "get_Profile(0x2000)");
    EXPECT_EQ(CallSlot(file, 54, kUnknown), "put_Profile(0x1000)");
    EXPECT_EQ(CallSlot(file, 65, kName, kVariantOut), "GetParam(0x8000,0x7000)");  // 63 methods
}

TEST(InterfaceSlots, FlashFile5) {
    SourceRecorder recorder;
    EXPECT_EQ(CallSlot(static_cast<IFlashFile5*>(&recorder), 3), "ReOpenFile()");
}

TEST(InterfaceSlots, MediaStream) {
    StreamRecorder recorder;
    IMediaStream* stream = &recorder;
    const VARIANT value = LongVariant();
    EXPECT_EQ(CallSlot(stream, 3, kCommand, kUnknown, kOut),
              "SendCommandEx(4294967299,0x1000,0x2000)");
    EXPECT_EQ(CallSlot(stream, 4, kLongOut), "get_Status(0x3000)");
    EXPECT_EQ(CallSlot(stream, 5, kLongOut), "get_StreamType(0x3000)");
    EXPECT_EQ(CallSlot(stream, 6, LONG{8}, kUInt64Out), "get_Capabilities(8,0x6000)");
    EXPECT_EQ(CallSlot(stream, 7, kDoubleOut), "get_Duration(0x4000)");
    EXPECT_EQ(CallSlot(stream, 8, kDoubleOut), "get_Time(0x4000)");
    EXPECT_EQ(CallSlot(stream, 9, LONG{2}, 1000.25), "Seek(2,1000.25)");
    EXPECT_EQ(CallSlot(stream, 10, LONG{2}, 33.5), "Skip(2,33.5)");
    EXPECT_EQ(CallSlot(stream, 11, LONG{0}, 20.0, kOut), "Read(0,20,0x2000)");
    EXPECT_EQ(CallSlot(stream, 12, LONG{0}, kUnknown), "Write(0,0x1000)");
    EXPECT_EQ(CallSlot(stream, 13, LONG{1}), "Reset(1)");
    EXPECT_EQ(CallSlot(stream, 14, kName, value), "SetParam(0x8000,V3:42)");
    EXPECT_EQ(CallSlot(stream, 15, kName, kVariantOut), "GetParam(0x8000,0x7000)");
}

TEST(InterfaceSlots, MarkerInterfacesAddNoSlotAndIdentifiersAreTheCatalogues) {
    static_assert(sizeof(IFlashVideoStream5) == sizeof(void*) &&
                  sizeof(IFlashAudioStream5) == sizeof(void*));
    const struct {
        GUID actual;
        GUID expected;
    } identifiers[] = {
        {IID_IMediaSource, MakeGuid("6EAE28E0-424E-4642-A408-BC118DE35F45")},
        {IID_IMediaFileTemplate, MakeGuid("62AC1BD0-8E78-4663-8514-4DE92AEC9268")},
        {IID_IMediaStream, MakeGuid("49D73883-2969-41A6-B6B3-01EF8A02F463")},
        {IID_IFlashFile5, MakeGuid("985477CD-0C1C-4176-A095-A78A80AC18E8")},
        {IID_IFlashVideoStream5, MakeGuid("29E64B4B-F8CD-4050-A28C-85F95ACF9EB5")},
        {IID_IFlashAudioStream5, MakeGuid("6F43246F-CA1D-44B5-9691-B44CA800BC8A")},
        {DIID__IFlashFile5Events, MakeGuid("28591EB4-B1A9-429D-A95A-1DECEDCFC688")},
        {CLSID_FlashFile5, MakeGuid("4782B4A0-9258-40BD-8739-54432C6407A2")},
        {CLSID_FlashVideoStream5, MakeGuid("2D955AA8-8E94-4A94-A669-C493B0730C20")},
        {CLSID_FlashAudioStream5, MakeGuid("5E470577-C2B2-4451-9A88-10E1493C8126")},
        {CLASS_ID_OF(CFlashFile5), CLSID_FlashFile5},
        {CLASS_ID_OF(CFlashVideoStream5), CLSID_FlashVideoStream5},
        {CLASS_ID_OF(CFlashAudioStream5), CLSID_FlashAudioStream5},
        {LIBID_zevflashfile5Lib, MakeGuid("7D647A2A-F2CF-4518-9AC3-D0217098D2E5")},
        {IID_IDispatch, MakeGuid("00020400-0000-0000-C000-000000000046")},
        {IID_IConnectionPointContainer, MakeGuid("B196B284-BAB4-101A-B69C-00AA00341D07")},
        {IID_IConnectionPoint, MakeGuid("B196B286-BAB4-101A-B69C-00AA00341D07")},
    };
    for (const auto& identifier : identifiers) EXPECT_EQ(identifier.actual, identifier.expected);
}
