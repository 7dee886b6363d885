// flvhost info: the streams of a file as the component describes them.
#include <cstdio>

#include "tools/flvhost/Arguments.h"
#include "tools/flvhost/Commands.h"
#include "tools/flvhost/Output.h"
#include "tools/flvhost/StreamFacts.h"

namespace flvhost {
namespace {
constexpr char kHelp[] =
    "usage: flvhost info FILE [--hash H] [--no-cache] [--json]\n"
    "\n"
    "Opens FILE through the FlashFile5 component and prints its streams: codec (by name, FLV\n"
    "number and host codec code), frame size and rate, data rates, audio sample rate, channels\n"
    "and bits, durations, the number of packets and keyframes, and whether the component took\n"
    "its index from its index cache or walked the file.\n"
    "\n"
    "  --hash H     the \"FileHash\" under which the component caches the index (default: an MD5\n"
    "               of the file's size and its first and last 64 KiB)\n"
    "  --no-cache   open without a \"FileHash\": the component walks the file and stores nothing\n"
    "  --json       print one JSON object instead of text\n";

const char* OriginText(IndexOrigin origin) {
    switch (origin) {
        case IndexOrigin::kCache:
            return "cache";
        case IndexOrigin::kCacheOff:
            return "walk, cache off";
        default:
            return "walk";
    }
}

std::string Hex(LONG value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%X", static_cast<unsigned>(value));
    return text;
}

std::string RateText(LONG kbps) {
    return kbps > 0 ? std::to_string(kbps) + " kbit/s" : "not stated";
}

void PrintText(const FileFacts& facts) {
    std::printf("File:   %s (%llu bytes)\n", facts.file.c_str(),
                static_cast<unsigned long long>(facts.size));
    switch (facts.origin) {
        case IndexOrigin::kCache:
            std::printf("Index:  from the index cache (hash %s)\n", facts.hash.c_str());
            break;
        case IndexOrigin::kCacheOff:
            std::printf("Index:  walked the file (cache off)\n");
            break;
        default:
            std::printf("Index:  walked the file, now in the index cache (hash %s)\n",
                        facts.hash.c_str());
    }
    const VideoFacts& video = facts.video;
    if (video.present) {
        std::printf("Video:  %s (FLV codec %ld, host codec %ld)\n",
                    VideoCodecName(video.flvCodec).c_str(), static_cast<long>(video.flvCodec),
                    static_cast<long>(video.hostCodec));
        std::printf("        %ldx%ld, %s frames/s, data rate %s\n", static_cast<long>(video.width),
                    static_cast<long>(video.height), FormatNumber(video.frameRate).c_str(),
                    RateText(video.dataRateKbps).c_str());
        std::printf("        %zu packets, %zu keyframes, duration %s ms\n", video.index.size(),
                    video.keyframes, FormatNumber(video.durationMs).c_str());
    } else {
        std::printf("Video:  none\n");
    }
    const AudioFacts& audio = facts.audio;
    if (audio.present) {
        std::printf("Audio:  %s (FLV sound format %ld, host codec %s)\n",
                    AudioCodecName(audio.soundFormat).c_str(), static_cast<long>(audio.soundFormat),
                    Hex(audio.hostCodec).c_str());
        std::printf("        %ld Hz, %ld channel%s, %ld bits, data rate %s\n",
                    static_cast<long>(audio.sampleRate), static_cast<long>(audio.channels),
                    audio.channels == 1 ? "" : "s", static_cast<long>(audio.bitsPerSample),
                    RateText(audio.dataRateKbps).c_str());
        std::printf("        %zu packets, duration %s ms\n", audio.index.size(),
                    FormatNumber(audio.durationMs).c_str());
    } else {
        std::printf("Audio:  none\n");
    }
}

void PrintJson(const FileFacts& facts) {
    JsonWriter json(stdout);
    json.BeginObject();
    json.Key("file").String(facts.file);
    json.Key("size").Integer(static_cast<std::int64_t>(facts.size));
    json.Key("index_source").String(OriginText(facts.origin));
    json.Key("hash");
    if (facts.hash.empty()) {
        json.Null();
    } else {
        json.String(facts.hash);
    }
    json.Key("video");
    if (facts.video.present) {
        const VideoFacts& video = facts.video;
        json.BeginObject();
        json.Key("codec").String(VideoCodecName(video.flvCodec));
        json.Key("flv_codec").Integer(video.flvCodec);
        json.Key("host_codec").Integer(video.hostCodec);
        json.Key("width").Integer(video.width);
        json.Key("height").Integer(video.height);
        json.Key("frame_rate").Number(video.frameRate);
        json.Key("data_rate_kbps").Integer(video.dataRateKbps);
        json.Key("duration_ms").Number(video.durationMs);
        json.Key("packets").Integer(static_cast<std::int64_t>(video.index.size()));
        json.Key("keyframes").Integer(static_cast<std::int64_t>(video.keyframes));
        json.EndObject();
    } else {
        json.Null();
    }
    json.Key("audio");
    if (facts.audio.present) {
        const AudioFacts& audio = facts.audio;
        json.BeginObject();
        json.Key("codec").String(AudioCodecName(audio.soundFormat));
        json.Key("flv_sound_format").Integer(audio.soundFormat);
        json.Key("host_codec").Integer(audio.hostCodec);
        json.Key("sample_rate").Integer(audio.sampleRate);
        json.Key("channels").Integer(audio.channels);
        json.Key("bits_per_sample").Integer(audio.bitsPerSample);
        json.Key("data_rate_kbps").Integer(audio.dataRateKbps);
        json.Key("duration_ms").Number(audio.durationMs);
        json.Key("packets").Integer(static_cast<std::int64_t>(audio.index.size()));
        json.EndObject();
    } else {
        json.Null();
    }
    json.EndObject();
}
}  // namespace

int RunInfo(const CommandArguments& arguments) {
    const Arguments parsed(arguments, {kHashOption, kNoCacheOption, {"--json", false}});
    if (ShowHelp(parsed, kHelp)) return kExitOk;
    parsed.ExpectPositional(1, "flvhost info FILE [--hash H] [--no-cache] [--json]");
    const FileFacts facts = CollectFacts(OpenOptionsFrom(parsed));
    if (parsed.Has("--json")) {
        PrintJson(facts);
    } else {
        PrintText(facts);
    }
    return kExitOk;
}

}  // namespace flvhost
