// fuzz_seeds: writes the hand-made part of the seed corpora, and the seeds derived from the
// FLV files given on the command line (fuzz/make-corpus.sh makes those with ffmpeg).
//
//   fuzz_seeds CORPUS_FOLDER FILE.flv...
//
// Into CORPUS_FOLDER/<target>/:
//   fuzz_walk, fuzz_tag, fuzz_file  FLV files built tag by tag (codecs, sequence headers,
//                                   negative composition times, extended and backward times,
//                                   unknown tags, zero DataSize, cut tags)
//   fuzz_script                     the script bodies of the given files and hand-made AMF0
//   fuzz_params                     the cache files of the given files, and a container of
//                                   every element type
//   fuzz_stored_index               the stored index of each given file with its description
//                                   and the file itself, in the target's input layout
#include <bit>
#include <fstream>
#include <iostream>

#include "fuzz/FuzzSupport.h"
#include "platform/TextConvert.h"
#include "source/Cache.h"
#include "tests/support/ComponentTestSupport.h"
#include "tests/support/FlvBuilder.h"

namespace fs = std::filesystem;

namespace {
using B = FlvBuilder;
using Trailer = FlvBuilder::Trailer;

void Save(const fs::path& folder, const std::string& name, const std::string& bytes) {
    fs::create_directories(folder);
    std::ofstream(folder / name, std::ios::binary) << bytes;
}

std::string LittleEndian(std::uint64_t value, unsigned bytes) {
    std::string out;
    for (unsigned i = 0; i < bytes; ++i) out += static_cast<char>((value >> (8 * i)) & 0xFF);
    return out;
}

// FLV files built tag by tag.
std::vector<std::pair<std::string, std::string>> BuiltFiles() {
    std::vector<std::pair<std::string, std::string>> files;
    FlvBuilder avc;
    avc.Script(0, B::OnMetaData({{"duration", B::Amf0Number(0.2)},
                                 {"width", B::Amf0Number(16)},
                                 {"height", B::Amf0Number(16)},
                                 {"framerate", B::Amf0Number(25)},
                                 {"videocodecid", B::Amf0Number(7)},
                                 {"audiocodecid", B::Amf0Number(10)},
                                 {"stereo", B::Amf0Bool(true)}}));
    avc.AvcSequenceHeader(0);
    avc.AacSequenceHeader(0);
    avc.AvcFrame(0, 1, 80, 24);
    avc.AacFrame(0, 12);
    avc.AvcFrame(40, 2, -40, 12);  // composition time below zero
    avc.AvcFrame(80, 3, 0, 8);
    avc.AacFrame(23, 12);
    avc.Tag(9, 120, B::AvcBody(1, 2, 0, ""));  // end of sequence
    files.emplace_back("built_avc_aac.flv", avc.Bytes());
    FlvBuilder vp6;
    vp6.Video(0, 1, 4, 20);
    vp6.Video(40, 2, 4, 10);
    vp6.Video(80, 1, 5, 20);  // VP6 with alpha
    vp6.Audio(0, 2, 3, 1, 1, 16);
    vp6.Audio(26, 2, 3, 1, 1, 16);
    files.emplace_back("built_vp6_mp3.flv", vp6.Bytes());
    FlvBuilder times;
    times.Video(0, 1, 2, 16);
    times.Video(0x01000000, 2, 2, 16);  // extended timestamp
    times.Video(500, 2, 2, 16);         // time going backwards
    times.Audio(0, 0, 1, 0, 0, 8);      // 8-bit platform-endian PCM
    times.Audio(10, 3, 2, 1, 0, 8);
    times.Audio(20, 1, 3, 1, 1, 8);  // ADPCM
    times.Audio(30, 4, 0, 1, 0, 8);  // Nellymoser 16 kHz
    times.Audio(40, 5, 0, 1, 0, 8);
    times.Audio(50, 6, 1, 1, 0, 8);
    times.Audio(60, 11, 0, 1, 0, 8);  // Speex
    files.emplace_back("built_times_formats.flv", times.Bytes());
    FlvBuilder unknown;
    unknown.Video(0, 1, 3, 12);
    unknown.Video(40, 2, 6, 12);
    unknown.Tag(15, 40, B::Payload(20));  // unknown tag type
    unknown.Video(80, 1, 3, 12);
    files.emplace_back("built_unknown_tag.flv", unknown.Bytes());
    FlvBuilder zero;
    zero.Tag(8, 0, "");
    zero.Tag(9, 0, "");
    zero.Tag(18, 0, "");
    zero.Video(0, 1, 2, 8, Trailer::kWrong);
    zero.Audio(10, 2, 3, 1, 1, 8, Trailer::kMissing);
    files.emplace_back("built_zero_sizes.flv", zero.Bytes());
    FlvBuilder cut;
    cut.Video(0, 1, 2, 16);
    cut.TagClaiming(9, 40, 5000, B::VideoBody(2, 2, 16));  // runs past the end
    files.emplace_back("built_cut_tag.flv", cut.Bytes());
    FlvBuilder empty;
    files.emplace_back("built_header_only.flv", empty.Bytes());
    return files;
}

// Hand-made script tag bodies.
std::vector<std::pair<std::string, std::string>> BuiltScripts() {
    std::vector<std::pair<std::string, std::string>> bodies;
    bodies.emplace_back("duration", B::OnMetaData({{"duration", B::Amf0Number(10.0)}}));
    // An Object-valued property holding two strict arrays (a seek table), then "duration".
    const std::string keyframes =
        "\x03" + B::Amf0Name("times") + "\x0a" + B::BigEndian(2, 4) + B::Amf0Number(0) +
        B::Amf0Number(1) + B::Amf0Name("filepositions") + "\x0a" + B::BigEndian(2, 4) +
        B::Amf0Number(13) + B::Amf0Number(900) + std::string("\x00\x00\x09", 3);
    bodies.emplace_back(
        "keyframes", B::OnMetaData({{"keyframes", keyframes}, {"duration", B::Amf0Number(2.0)}}));
    bodies.emplace_back("object_top", B::Amf0String("onMetaData") + "\x03" + B::Amf0Name("width") +
                                          B::Amf0Number(320) + std::string("\x00\x00\x09", 3));
    bodies.emplace_back("long_string", B::Amf0String("onMetaData") + "\x08" + B::BigEndian(1, 4) +
                                           B::Amf0Name("encoder") + "\x0c" + B::BigEndian(300, 4) +
                                           std::string(300, 'x') + std::string("\x00\x00\x09", 3));
    bodies.emplace_back("reference_date", B::OnMetaData({{"ref", std::string("\x07\x00\x01", 3)},
                                                         {"date", "\x0b" + std::string(10, '\0')},
                                                         {"null", "\x05"},
                                                         {"undefined", "\x06"}}));
    std::string nested;
    for (int i = 0; i < 70; ++i) nested += "\x0a" + B::BigEndian(1, 4);
    bodies.emplace_back("deep_arrays", B::OnMetaData({{"deep", nested + B::Amf0Number(1)}}));
    bodies.emplace_back("count_max", B::Amf0String("onMetaData") + "\x08" +
                                         B::BigEndian(0xFFFFFFFF, 4) + B::Amf0Name("a") +
                                         B::Amf0Number(1));
    bodies.emplace_back("strict_count_max", B::Amf0String("onMetaData") + "\x0a" +
                                                B::BigEndian(0xFFFFFFFF, 4) + "\x05\x05");
    return bodies;
}

std::string ParamsFile(IMediaParams* params, const fs::path& scratch) {
    (void)params->SaveToFile(Bstr(Utf8ToWide(scratch.string())).Get());
    std::string bytes = FileBytes(scratch);
    fs::remove(scratch);
    return bytes;
}

// A container of every element type that a file holds, nested one level.
std::string EveryTypeParams(const fs::path& scratch) {
    ComPtr<IMediaParams> params = NewContainer();
    ComPtr<IMediaParams> inner = NewContainer();
    (void)inner->SetString(Bstr(L"FileName").Get(), -1, Bstr(L"clip.flv").Get());
    (void)params->SetBool(Bstr(L"VideoExist").Get(), -1, VARIANT_TRUE);
    (void)params->SetLong(Bstr(L"VideoCodecType").Get(), -1, 7);
    (void)params->SetLong(Bstr(L"VideoCodecType").Get(), -1, 2);
    (void)params->SetUInt64(Bstr(L"Size").Get(), -1, 1234567);
    (void)params->SetDouble(Bstr(L"VideoFrameRate").Get(), -1, 29.97);
    (void)params->SetParams(Bstr(L"FLVSettings").Get(), -1, 0, inner.Get());
    (void)params->SetStream(Bstr(L"FileVideoIndexes").Get(), 0, 1,
                            MemoryStreamOf(std::string(12, '\0')).Get());
    return ParamsFile(params.Get(), scratch);
}

// The input of fuzz_stored_index for one cache container and the file it describes.
std::string StoredIndexInput(IMediaParams* video, IMediaParams* audio, const std::string& flv,
                             std::uint8_t flags) {
    LONG values[6] = {};
    const wchar_t* names[6] = {L"VideoCodecType", L"VideoWidth",     L"VideoHeight",
                               L"VideoDateRate",  L"AudioCodecType", L"AudioDataRate"};
    for (int i = 0; i < 6; ++i) {
        (void)video->GetLong(Bstr(names[i]).Get(), -1, &values[i]);
        (void)audio->GetLong(Bstr(names[i]).Get(), -1, &values[i]);
    }
    double frameRate = 0;
    (void)video->GetDouble(Bstr(L"VideoFrameRate").Get(), -1, &frameRate);
    std::string input(1, static_cast<char>(flags));
    for (LONG value : values) input += LittleEndian(static_cast<std::uint32_t>(value), 4);
    input += LittleEndian(std::bit_cast<std::uint64_t>(frameRate), 8);
    for (auto [params, name] :
         {std::pair{video, L"FileVideoIndexes"}, std::pair{audio, L"FileAudioIndexes"}}) {
        ComPtr<IStream> stream;
        if (FAILED(params->GetStream(Bstr(name).Get(), 0, 1, stream.Put())) || !stream) {
            input += LittleEndian(0xFFFFFFFF, 4);
            continue;
        }
        const std::string bytes = StreamBytes(stream.Get());
        input += LittleEndian(bytes.size(), 4) + bytes;
    }
    return input + flv;
}
}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::cerr << "usage: fuzz_seeds CORPUS_FOLDER [FILE.flv...]\n";
        return 2;
    }
    const fs::path corpus = argv[1];
    const fs::path scratch = fs::temp_directory_path() / "fuzz_seeds.params";

    for (const auto& [name, bytes] : BuiltFiles()) {
        for (const char* target : {"fuzz_walk", "fuzz_tag", "fuzz_file"}) {
            Save(corpus / target, name, bytes);
        }
    }
    for (const auto& [name, body] : BuiltScripts()) Save(corpus / "fuzz_script", name, body);
    Save(corpus / "fuzz_params", "every_type", EveryTypeParams(scratch));

    for (int i = 2; i < argc; ++i) {
        const fs::path path = argv[i];
        const std::string flv = FileBytes(path);
        const std::string stem = path.stem().string();
        for (const char* target : {"fuzz_walk", "fuzz_tag", "fuzz_file"}) {
            Save(corpus / target, path.filename().string(), flv);
        }
        for (const FlvTag& tag : TagsOf(flv)) {
            if (tag.type != 18) continue;
            Save(corpus / "fuzz_script", stem, tag.body);  // the first script body
            break;
        }

        CFLV_Manager manager;
        WalkFile(path, manager);
        ComPtr<IMediaParams> video = NewContainer();
        ComPtr<IMediaParams> audio = NewContainer();
        if (manager.facts.hasVideo && SaveVideoInfo(&manager, video.Get())) {
            Save(corpus / "fuzz_params", stem + ".v.cache", ParamsFile(video.Get(), scratch));
        }
        if (manager.facts.hasAudio && SaveAudioInfo(&manager, audio.Get())) {
            Save(corpus / "fuzz_params", stem + ".a.cache", ParamsFile(audio.Get(), scratch));
        }
        Save(corpus / "fuzz_stored_index", stem,
             StoredIndexInput(video.Get(), audio.Get(), flv, 0xFF));
        Save(corpus / "fuzz_stored_index", stem + ".nosource",
             StoredIndexInput(video.Get(), audio.Get(), flv, 0x7F));
    }
    return 0;
}
