// fuzz_seeds: writes the seeds derived from the FLV files given on the command line
// (fuzz/make-corpus.sh makes those with ffmpeg).
//
//   fuzz_seeds CORPUS_FOLDER FILE.flv...
//
// Into CORPUS_FOLDER/<target>/, for each file:
//   fuzz_walk, fuzz_tag, fuzz_file  the file, and the file damaged as recordings are damaged
//                                   (NAME_damaged.flv: a 13-byte header, a zero-filled hole,
//                                   junk, a damaged DataSize, a zero-filled tail)
//   fuzz_script                     its first script body
//   fuzz_params                     its index cache files
//   fuzz_stored_index               its stored index with the stream description, and the file
//                                   itself, in the target's input layout
// The hand-made seeds beside them (built_*: FLV files built tag by tag with negative composition
// times, extended and backward times, unknown tags, zero DataSize and cut tags; hand-made AMF0
// bodies; "every_type", a container of every element type) are kept as they are.
#include <algorithm>
#include <bit>
#include <fstream>
#include <iostream>

#include "fuzz/FuzzSupport.h"
#include "platform/TextConvert.h"
#include "source/Cache.h"
#include "tests/support/ComponentTestSupport.h"

namespace fs = std::filesystem;

namespace {

void Save(const fs::path& folder, const std::string& name, const std::string& bytes) {
    fs::create_directories(folder);
    std::ofstream(folder / name, std::ios::binary) << bytes;
}

std::string LittleEndian(std::uint64_t value, unsigned bytes) {
    std::string out;
    for (unsigned i = 0; i < bytes; ++i) out += static_cast<char>((value >> (8 * i)) & 0xFF);
    return out;
}

// `flv` with the damage that the walk steps over (flv/TagSearch.h), from its end to its start so
// that the offsets of `tags` stay right: the last tag cut in its body and followed by zeros (a
// pre-allocated tail), a DataSize two bytes too large in the middle, junk that begins like a
// video tag and a hole of 11 zeros before that tag, and DataOffset 13 with four more header
// bytes. Files of fewer than six tags are left as they are.
std::string Damaged(std::string flv, const std::vector<FlvTag>& tags) {
    if (tags.size() < 6) return flv;
    const FlvTag& last = tags.back();
    flv.resize(last.offset + 11 + last.body.size() / 2);
    flv.append(512, '\0');
    const std::size_t middle = tags.size() / 2;
    flv[tags[middle + 1].offset + 3] = static_cast<char>(flv[tags[middle + 1].offset + 3] + 2);
    std::string junk("\x09\x7F\xFF\xFF", 4);
    for (std::uint32_t state = 1; junk.size() < 48;) {
        state = state * 1103515245 + 12345;
        junk += static_cast<char>(state >> 16);
    }
    flv.insert(tags[middle].offset, std::string(11, '\0') + junk);
    flv.insert(9, 4, '\0');
    flv[8] = 13;
    return flv;
}

std::string ParamsFile(IMediaParams* params, const fs::path& scratch) {
    (void)params->SaveToFile(Bstr(Utf8ToWide(scratch.string())).Get());
    std::string bytes = FileBytes(scratch);
    fs::remove(scratch);
    return bytes;
}

// The input of fuzz_stored_index for one cache container and the file it describes.
std::string StoredIndexInput(IMediaParams* video, IMediaParams* audio, const std::string& flv,
                             std::uint8_t flags) {
    LONG values[6] = {};
    for (int i = 0; i < 6; ++i) {
        (void)video->GetLong(Bstr(kStoredIndexLongNames[i]).Get(), -1, &values[i]);
        (void)audio->GetLong(Bstr(kStoredIndexLongNames[i]).Get(), -1, &values[i]);
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

    for (int i = 2; i < argc; ++i) {
        const fs::path path = argv[i];
        const std::string flv = FileBytes(path);
        const std::string stem = path.stem().string();
        const std::vector<FlvTag> tags = TagsOf(flv);
        for (const char* target : {"fuzz_walk", "fuzz_tag", "fuzz_file"}) {
            Save(corpus / target, path.filename().string(), flv);
            if (tags.size() >= 6) Save(corpus / target, stem + "_damaged.flv", Damaged(flv, tags));
        }
        const auto script = std::find_if(tags.begin(), tags.end(),
                                         [](const FlvTag& tag) { return tag.type == 18; });
        if (script != tags.end()) Save(corpus / "fuzz_script", stem, script->body);

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
