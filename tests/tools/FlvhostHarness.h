// Running the built flvhost program from tests, as a user or a script runs it: its own registry
// hives, application-data folder (index cache) and named-mutex folder for the whole test
// program, with the component registered once through `flvhost register --user`.
#pragma once

#include <gtest/gtest.h>

#include "tests/support/FfmpegTools.h"
#include "tests/support/TempDir.h"

// What one run of flvhost gave: its exit code and its two output streams.
struct HostRun {
    int exitCode = -1;
    std::string out, err;
};

// Runs `flvhost ARGUMENTS` (already quoted for the shell) in the test program's environment;
// `environment` ("NAME=value ...", quoted) changes it for this run only.
HostRun RunFlvhost(const std::string& arguments, const std::string& environment = "");
// The command line that runs flvhost with `arguments`.
inline std::string FlvhostCommand(const std::string& arguments) {
    return Quote(FLVHOST_PROGRAM) + " " + arguments;
}

// The folder of the test program's environment (registry hives, cache, locks, outputs).
const std::filesystem::path& HostFolder();
// A fresh path for an output file in that folder.
std::filesystem::path OutputPath(const std::string& name);

inline bool Mentions(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

// ffmpeg's arguments for a clip of test patterns: 160x120 video at `frameRate`, a 440 Hz tone at
// `sampleRate`, `seconds` long, encoded with `codecs` (e.g. "-c:v flv1 -c:a libmp3lame -ac 2").
inline std::string Clip(int frameRate, int sampleRate, const std::string& codecs, int seconds = 1) {
    return "-f lavfi -i testsrc2=size=160x120:rate=" + std::to_string(frameRate) +
           " -f lavfi -i sine=frequency=440:sample_rate=" + std::to_string(sampleRate) + " -t " +
           std::to_string(seconds) + " " + codecs;
}
// The sample made by ffmpeg from `arguments` in `var` (a test skip when ffmpeg is missing).
#define REQUIRE_TOOLS_SAMPLE(var, name, arguments)                           \
    if (!FfmpegAvailable()) GTEST_SKIP() << "ffmpeg and ffprobe are needed"; \
    const auto var##Found = GeneratedSample(name, arguments);                \
    ASSERT_TRUE(var##Found) << "ffmpeg could not make " << name;             \
    const std::filesystem::path var = *var##Found

// How many video packets, audio packets and video keyframes ffprobe finds in `file`.
struct PacketCounts {
    std::size_t video = 0, audio = 0, keyframes = 0;
};
PacketCounts CountPackets(const std::filesystem::path& file);

// A 16-bit PCM WAV file as flvhost writes it (44-byte header, then the samples); `valid` is
// false when the header is not that of 16-bit PCM.
struct WavFile {
    bool valid = false;
    int channels = 0, sampleRate = 0, blockAlign = 0;
    std::string samples;
};
WavFile ReadWav(const std::filesystem::path& file);

// The video frames of a file (an FLV, or a PNG) as ffmpeg decodes them to packed RGB24, one
// after the other, in presentation order.
std::string RgbPixels(const std::filesystem::path& file);
