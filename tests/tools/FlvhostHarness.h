// Running the built flvhost program from tests, as a user or a script runs it: its own registry
// hives, application-data folder (index cache) and named-mutex folder for the whole test
// program, with the component registered once through `flvhost register --user`.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

// What one run of flvhost gave: its exit code and its two output streams.
struct HostRun {
    int exitCode = -1;
    std::string out;
    std::string err;
};

// Runs `flvhost ARGUMENTS` (already quoted for the shell) in the test program's environment;
// `environment` ("NAME=value ...", quoted) changes it for this run only.
HostRun RunFlvhost(const std::string& arguments, const std::string& environment = "");
// The command line that runs flvhost with `arguments`.
std::string FlvhostCommand(const std::string& arguments);
// `text` quoted for the shell.
std::string Quote(const std::string& text);
std::string Quote(const std::filesystem::path& path);

// The folder of the test program's environment (registry hives, cache, locks, outputs).
const std::filesystem::path& HostFolder();
// A fresh path for an output file in that folder.
std::filesystem::path OutputPath(const std::string& name);

std::vector<std::string> Lines(const std::string& text);
std::vector<std::string> Fields(const std::string& line, char separator = ',');
std::string ReadBytes(const std::filesystem::path& file);

// A 16-bit PCM WAV file as flvhost writes it (44-byte header, then the samples); `valid` is
// false when the header is not that.
struct WavFile {
    bool valid = false;
    int channels = 0;
    int sampleRate = 0;
    int bitsPerSample = 0;
    int blockAlign = 0;
    std::string samples;
};
WavFile ReadWav(const std::filesystem::path& file);

// The pixels of an image file as ffmpeg decodes them to packed RGB24.
std::string RgbPixels(const std::filesystem::path& image);

// The environment of the test program: hives, XDG folders, and the registration. Set up once
// before the first test and taken down after the last.
class FlvhostEnvironment : public ::testing::Environment {
  public:
    void SetUp() override;
    void TearDown() override;
};
