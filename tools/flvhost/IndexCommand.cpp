// flvhost index: every entry of the component's tag index, in file order.
#include <algorithm>
#include <cstdio>

#include "tools/flvhost/Arguments.h"
#include "tools/flvhost/Commands.h"
#include "tools/flvhost/Output.h"
#include "tools/flvhost/StreamFacts.h"

namespace flvhost {
namespace {
constexpr char kHelp[] =
    "usage: flvhost index FILE [--csv | --json] [--hash H] [--no-cache]\n"
    "\n"
    "Prints every entry of the index that the FlashFile5 component builds for FILE, in file\n"
    "order, with the stream facts. The index is read from the information containers that the\n"
    "component hands to its host when it opens the file (\"FLVSettings\", the same containers it\n"
    "keeps in its index cache files); flvhost parses their stored index streams itself and links\n"
    "none of the component's code.\n"
    "\n"
    "  --csv        exactly the header line kind,position,time_ms,frame_type and then one line\n"
    "               per entry: kind video or audio, the tag's file offset, its time in ms\n"
    "               (presentation time for video) and its frame type (video: 1 key, 2 inter,\n"
    "               3 disposable inter; audio: 2)\n"
    "  --json       one JSON object: the stream facts and the entries\n"
    "  --hash H     the \"FileHash\" of the component's index cache (default: from the file)\n"
    "  --no-cache   open without a \"FileHash\"\n";

std::vector<IndexRecord> InFileOrder(const FileFacts& facts) {
    std::vector<IndexRecord> all = facts.video.index;
    all.insert(all.end(), facts.audio.index.begin(), facts.audio.index.end());
    std::stable_sort(all.begin(), all.end(), [](const IndexRecord& a, const IndexRecord& b) {
        return a.position < b.position;
    });
    return all;
}

const char* KindOf(const IndexRecord& record) {
    return record.video ? "video" : "audio";
}
}  // namespace

int RunIndex(const CommandArguments& arguments) {
    const Arguments parsed(arguments,
                           {kHashOption, kNoCacheOption, {"--csv", false}, {"--json", false}});
    if (ShowHelp(parsed, kHelp)) return kExitOk;
    parsed.ExpectPositional(1, "flvhost index FILE [--csv | --json]");
    if (parsed.Has("--csv") && parsed.Has("--json")) {
        throw HostError(kExitUsage, "--csv and --json exclude each other");
    }
    const FileFacts facts = CollectFacts(OpenOptionsFrom(parsed));
    const std::vector<IndexRecord> entries = InFileOrder(facts);

    if (parsed.Has("--csv")) {
        std::printf("kind,position,time_ms,frame_type\n");
        for (const IndexRecord& entry : entries) {
            std::printf("%s,%llu,%llu,%u\n", KindOf(entry),
                        static_cast<unsigned long long>(entry.position),
                        static_cast<unsigned long long>(entry.timeMs), entry.frameType);
        }
        return kExitOk;
    }
    if (parsed.Has("--json")) {
        JsonWriter json(stdout);
        json.BeginObject();
        json.Key("file").String(facts.file);
        json.Key("video");
        if (facts.video.present) {
            json.BeginObject();
            json.Key("codec").String(VideoCodecName(facts.video.flvCodec));
            json.Key("flv_codec").Integer(facts.video.flvCodec);
            json.Key("width").Integer(facts.video.width);
            json.Key("height").Integer(facts.video.height);
            json.Key("frame_rate").Number(facts.video.frameRate);
            json.Key("packets").Integer(static_cast<std::int64_t>(facts.video.index.size()));
            json.Key("keyframes").Integer(static_cast<std::int64_t>(facts.video.keyframes));
            json.EndObject();
        } else {
            json.Null();
        }
        json.Key("audio");
        if (facts.audio.present) {
            json.BeginObject();
            json.Key("codec").String(AudioCodecName(facts.audio.soundFormat));
            json.Key("flv_sound_format").Integer(facts.audio.soundFormat);
            json.Key("packets").Integer(static_cast<std::int64_t>(facts.audio.index.size()));
            json.EndObject();
        } else {
            json.Null();
        }
        json.Key("entries");
        json.BeginArray();
        for (const IndexRecord& entry : entries) {
            json.BeginObject();
            json.Key("kind").String(KindOf(entry));
            json.Key("position").Integer(static_cast<std::int64_t>(entry.position));
            json.Key("time_ms").Integer(static_cast<std::int64_t>(entry.timeMs));
            json.Key("frame_type").Integer(entry.frameType);
            json.EndObject();
        }
        json.EndArray();
        json.EndObject();
        return kExitOk;
    }

    if (facts.video.present) {
        std::printf("video: %s, %zu entries, %zu keyframes\n",
                    VideoCodecName(facts.video.flvCodec).c_str(), facts.video.index.size(),
                    facts.video.keyframes);
    }
    if (facts.audio.present) {
        std::printf("audio: %s, %zu entries\n", AudioCodecName(facts.audio.soundFormat).c_str(),
                    facts.audio.index.size());
    }
    std::printf("%-6s %12s %10s %s\n", "kind", "position", "time ms", "frame type");
    for (const IndexRecord& entry : entries) {
        const char* type = !entry.video           ? ""
                           : entry.frameType == 1 ? " (key)"
                           : entry.frameType == 3 ? " (disposable)"
                                                  : "";
        std::printf("%-6s %12llu %10llu %u%s\n", KindOf(entry),
                    static_cast<unsigned long long>(entry.position),
                    static_cast<unsigned long long>(entry.timeMs), entry.frameType, type);
    }
    return kExitOk;
}

}  // namespace flvhost
