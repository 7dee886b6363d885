// Every listed slot of the catalogue's interfaces, called through the raw vtable as a host does:
// each slot is called with the parameter types of its row, one distinct sample value per
// parameter, and the object records which method ran and the arguments it received. A method
// declared out of order, or with another parameter type, records another name or garbled
// arguments.
#include <gtest/gtest.h>

#include <cstdint>
#include <sstream>
#include <string>
#include <tuple>
#include <type_traits>

#include "frame/Interfaces.h"

namespace {
template <class T>
void Describe(std::ostream& out, const T& value) {
    if constexpr (std::is_pointer_v<T>)
        out << std::hex << "0x" << reinterpret_cast<std::uintptr_t>(value) << std::dec;
    else if constexpr (std::is_same_v<T, VARIANT>)
        out << "V" << value.vt << ":" << value.lVal;
    else
        out << std::to_string(value);  // every digit of a double
}

// "Name(arg,arg,...)": how a call of method `name` with `args` is written down.
template <class... Args>
std::string CallText(const char* name, Args... args) {
    std::ostringstream out;
    out << name << "(";
    [[maybe_unused]] const char* separator = "";  // unused when there are no arguments
    ((out << separator, Describe(out, args), separator = ","), ...);
    return out.str() + ")";
}

// The last call a recorder received.
std::string g_lastCall;

// The argument for a parameter of type T at `position`, which moves on to the next parameter:
// distinct per position, so that a swapped or retyped parameter shows. Pointers are never read
// through; integers and doubles beyond 32 bits show a parameter that was declared narrower.
template <class T>
T Sample(int& position) {
    if constexpr (std::is_pointer_v<T>) {
        return reinterpret_cast<T>(std::uintptr_t{0x1000} * ++position);
    } else if constexpr (std::is_same_v<T, VARIANT>) {
        VARIANT value{};
        value.vt = VT_I4;
        value.lVal = 42 + position++;
        return value;
    } else if constexpr (std::is_same_v<T, LONG>) {
        return -1 - position++;
    } else {
        return static_cast<T>(0x100000000ull + position++) + static_cast<T>(0.25);
    }
}

// Calls slot `slot` of `object`'s vtable as a C caller does (`this` first, then a sample of each
// of `Params`) and expects method `name` to have recorded exactly those arguments.
template <class... Params, class Interface>
void CheckSlot(Interface* object, int slot, const std::string& name) {
    using Method = HRESULT (*)(Interface*, Params...);
    [[maybe_unused]] int position = 0;  // unused when there are no parameters
    const std::tuple<Params...> args{Sample<Params>(position)...};
    const auto method = reinterpret_cast<Method>((*reinterpret_cast<void***>(object))[slot]);
    g_lastCall = "(nothing)";
    std::apply([&](auto... values) { method(object, values...); }, args);
    const auto expected = [&](auto... values) { return CallText(name.c_str(), values...); };
    EXPECT_EQ(g_lastCall, std::apply(expected, args)) << "slot " << slot;
}

// clang-format off
// An override that records its name and arguments; KINDS and UPPER_KINDS declare the video,
// audio and data forms of a name at once: KINDS(get_, Stream, ...) is get_videoStream and so on.
#define RECORDS(name, params, ...) HRESULT STDMETHODCALLTYPE name params override { \
    g_lastCall = CallText(#name __VA_OPT__(, ) __VA_ARGS__); return S_OK; }
#define KINDS(p, s, ...) \
    RECORDS(p##video##s, __VA_ARGS__) RECORDS(p##audio##s, __VA_ARGS__) RECORDS(p##data##s, __VA_ARGS__)
#define UPPER_KINDS(p, s, ...) \
    RECORDS(p##Video##s, __VA_ARGS__) RECORDS(p##Audio##s, __VA_ARGS__) RECORDS(p##Data##s, __VA_ARGS__)

// One object with every interface of the catalogue; a method of the same name and parameters
// serves the rows of each interface that lists it.
class Recorder final : public IMediaSource,
                       public IMediaFileTemplate,
                       public IFlashFile5,
                       public IMediaStream {
  public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void**) override { return E_NOTIMPL; }
    ULONG STDMETHODCALLTYPE AddRef() override { return 1; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    RECORDS(SendCommandEx, (ULONGLONG c, IUnknown* p, IUnknown** o), c, p, o)
    KINDS(get_, TracksCount, (LONG* v), v)
    KINDS(put_, TracksCount, (LONG v), v)
    KINDS(get_, Track, (LONG* v), v)
    KINDS(put_, Track, (LONG v), v)
    KINDS(get_, Stream, (LONG m, LONG s, IUnknown** o), m, s, o)
    RECORDS(ResetBuffers, (LONG s, LONG f), s, f)
    RECORDS(get_IsSeekable, (LONG s, LONG f, VARIANT_BOOL* v), s, f, v)
    UPPER_KINDS(Seek, , (LONG s, LONG f, double t), s, f, t)
    UPPER_KINDS(Skip, , (LONG s, LONG f, double d), s, f, d)
    RECORDS(ReadVideo, (LONG s, LONG f, IUnknown** o), s, f, o)
    RECORDS(ReadAudio, (LONG s, LONG f, double d, IUnknown** o), s, f, d, o)
    RECORDS(ReadData, (LONG s, LONG f, IUnknown** o), s, f, o)
    KINDS(get_, Duration, (LONG s, double* v), s, v)
    KINDS(get_, Time, (LONG s, double* v), s, v)
    KINDS(get_, Format, (LONG s, IUnknown** v), s, v)
    KINDS(put_, Format, (LONG s, IUnknown* v), s, v)
    KINDS(get_, Transform, (LONG s, IUnknown** v), s, v)
    RECORDS(SetParam, (BSTR n, VARIANT v), n, v)
    RECORDS(GetParam, (BSTR n, VARIANT* v), n, v)
    UPPER_KINDS(get_available, CodecsCount, (LONG* v), v)
    UPPER_KINDS(get_available, FormatsCount, (LONG c, LONG* v), c, v)
    UPPER_KINDS(get_available, Format, (LONG c, LONG i, IUnknown** v), c, i, v)
    RECORDS(get_Status, (LONG* v), v)
    RECORDS(get_ContainerType, (LONG* v), v)
    RECORDS(put_ContainerType, (LONG v), v)
    RECORDS(get_ContainerDesc, (IUnknown** v), v)
    RECORDS(put_ContainerDesc, (IUnknown* v), v)
    UPPER_KINDS(Write, , (LONG s, LONG f, IUnknown* d), s, f, d)
    RECORDS(get_Profile, (IUnknown** v), v)
    RECORDS(put_Profile, (IUnknown* v), v)
    RECORDS(ReOpenFile, ())
    RECORDS(get_StreamType, (LONG* v), v)
    RECORDS(get_Capabilities, (LONG f, ULONGLONG* v), f, v)
    RECORDS(get_Duration, (double* v), v)
    RECORDS(get_Time, (double* v), v)
    RECORDS(Seek, (LONG f, double t), f, t)
    RECORDS(Skip, (LONG f, double d), f, d)
    RECORDS(Read, (LONG f, double d, IUnknown** o), f, d, o)
    RECORDS(Write, (LONG f, IUnknown* d), f, d)
    RECORDS(Reset, (LONG f), f)
};

// clang-format on

// The rows shared by IMediaSource and IMediaFileTemplate, at the slots each interface gives them:
// the first of the twelve track accessors (get_videoTracksCount), get_videoStream, ResetBuffers
// (then IsSeekable, Seek*, Skip*, Read*), the six duration and time getters, and the six format
// accessors (then the three transforms and the two params).
template <class Interface>
void CheckSharedSlots(Interface* object, int tracks, int streams, int moves, int durations,
                      int formats) {
    CheckSlot<ULONGLONG, IUnknown*, IUnknown**>(object, 3, "SendCommandEx");
    const std::string kinds[] = {"video", "audio", "data"}, upper[] = {"Video", "Audio", "Data"};
    for (int i = 0; i < 3; ++i) {
        CheckSlot<LONG*>(object, tracks + 2 * i, "get_" + kinds[i] + "TracksCount");
        CheckSlot<LONG>(object, tracks + 2 * i + 1, "put_" + kinds[i] + "TracksCount");
        CheckSlot<LONG*>(object, tracks + 6 + 2 * i, "get_" + kinds[i] + "Track");
        CheckSlot<LONG>(object, tracks + 7 + 2 * i, "put_" + kinds[i] + "Track");
        CheckSlot<LONG, LONG, IUnknown**>(object, streams + i, "get_" + kinds[i] + "Stream");
        CheckSlot<LONG, LONG, double>(object, moves + 2 + i, "Seek" + upper[i]);
        CheckSlot<LONG, LONG, double>(object, moves + 5 + i, "Skip" + upper[i]);
        CheckSlot<LONG, double*>(object, durations + i, "get_" + kinds[i] + "Duration");
        CheckSlot<LONG, double*>(object, durations + 3 + i, "get_" + kinds[i] + "Time");
        CheckSlot<LONG, IUnknown**>(object, formats + 2 * i, "get_" + kinds[i] + "Format");
        CheckSlot<LONG, IUnknown*>(object, formats + 2 * i + 1, "put_" + kinds[i] + "Format");
        CheckSlot<LONG, IUnknown**>(object, formats + 6 + i, "get_" + kinds[i] + "Transform");
    }
    CheckSlot<LONG, LONG>(object, moves, "ResetBuffers");
    CheckSlot<LONG, LONG, VARIANT_BOOL*>(object, moves + 1, "get_IsSeekable");
    CheckSlot<LONG, LONG, IUnknown**>(object, moves + 8, "ReadVideo");
    CheckSlot<LONG, LONG, double, IUnknown**>(object, moves + 9, "ReadAudio");
    CheckSlot<LONG, LONG, IUnknown**>(object, moves + 10, "ReadData");
    CheckSlot<BSTR, VARIANT>(object, formats + 9, "SetParam");
    CheckSlot<BSTR, VARIANT*>(object, formats + 10, "GetParam");
}
}  // namespace

TEST(InterfaceSlots, MediaSourceFileTemplateAndFlashFile5) {
    Recorder recorder;
    EXPECT_EQ(IID_IMediaSource, MakeGuid("6EAE28E0-424E-4642-A408-BC118DE35F45"));
    CheckSharedSlots<IMediaSource>(&recorder, 4, 16, 19, 30, 36);  // 44 methods: last slot 46
    IMediaFileTemplate* file = &recorder;
    EXPECT_EQ(IID_IMediaFileTemplate, MakeGuid("62AC1BD0-8E78-4663-8514-4DE92AEC9268"));
    CheckSharedSlots(file, 18, 30, 33, 47, 55);  // 63 methods: last slot 65
    const std::string kinds[] = {"Video", "Audio", "Data"};
    for (int i = 0; i < 3; ++i) {
        const std::string& kind = kinds[i];
        CheckSlot<LONG*>(file, 4 + i, "get_available" + kind + "CodecsCount");
        CheckSlot<LONG, LONG*>(file, 7 + i, "get_available" + kind + "FormatsCount");
        CheckSlot<LONG, LONG, IUnknown**>(file, 10 + i, "get_available" + kind + "Format");
        CheckSlot<LONG, LONG, IUnknown*>(file, 44 + i, "Write" + kind);
    }
    CheckSlot<LONG*>(file, 13, "get_Status");
    CheckSlot<LONG*>(file, 14, "get_ContainerType");
    CheckSlot<LONG>(file, 15, "put_ContainerType");
    CheckSlot<IUnknown**>(file, 16, "get_ContainerDesc");
    CheckSlot<IUnknown*>(file, 17, "put_ContainerDesc");
    CheckSlot<IUnknown**>(file, 53, "get_Profile");
    CheckSlot<IUnknown*>(file, 54, "put_Profile");
    CheckSlot<>(static_cast<IFlashFile5*>(&recorder), 3, "ReOpenFile");
    static_assert(sizeof(IFlashVideoStream5) == sizeof(void*), "marker interfaces add no slot");
}

TEST(InterfaceSlots, MediaStream) {
    Recorder recorder;
    IMediaStream* stream = &recorder;
    EXPECT_EQ(IID_IMediaStream, MakeGuid("49D73883-2969-41A6-B6B3-01EF8A02F463"));
    CheckSlot<ULONGLONG, IUnknown*, IUnknown**>(stream, 3, "SendCommandEx");
    CheckSlot<LONG*>(stream, 4, "get_Status");
    CheckSlot<LONG*>(stream, 5, "get_StreamType");
    CheckSlot<LONG, ULONGLONG*>(stream, 6, "get_Capabilities");
    CheckSlot<double*>(stream, 7, "get_Duration");
    CheckSlot<double*>(stream, 8, "get_Time");
    CheckSlot<LONG, double>(stream, 9, "Seek");
    CheckSlot<LONG, double>(stream, 10, "Skip");
    CheckSlot<LONG, double, IUnknown**>(stream, 11, "Read");
    CheckSlot<LONG, IUnknown*>(stream, 12, "Write");
    CheckSlot<LONG>(stream, 13, "Reset");
    CheckSlot<BSTR, VARIANT>(stream, 14, "SetParam");
    CheckSlot<BSTR, VARIANT*>(stream, 15, "GetParam");
}
