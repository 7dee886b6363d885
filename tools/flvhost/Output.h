// Output helpers of flvhost: number formatting, a small JSON writer, the progress bar shown on a
// terminal, Ctrl-C, and output files ("-" for standard output).
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace flvhost {

// `value` with `decimals` digits after the point ("%.*f"); integers print without a point when
// `decimals` is 0.
std::string FormatNumber(double value, int decimals = 3);

// Writes JSON with two-space indentation. Calls must nest correctly; keys only inside objects.
class JsonWriter {
  public:
    explicit JsonWriter(std::FILE* out) : out_(out) {}
    ~JsonWriter();
    JsonWriter(const JsonWriter&) = delete;
    JsonWriter& operator=(const JsonWriter&) = delete;

    void BeginObject();
    void EndObject();
    void BeginArray();
    void EndArray();
    JsonWriter& Key(std::string_view key);
    void String(std::string_view text);
    void Number(double value, int decimals = 3);
    void Integer(std::int64_t value);
    void Bool(bool value);
    void Null();

  private:
    void BeforeValue();
    void Raw(std::string_view text);
    void Newline();

    std::FILE* out_;
    std::vector<bool> hasItems_;  // one per open object or array
    bool afterKey_ = false;
};

// Ctrl-C: the first SIGINT sets a flag that long loops test; a second one ends the process.
void CatchInterrupt();
bool Interrupted();

// A one-line progress bar on standard error, shown only when standard error is a terminal and
// the work is long (`total` of at least `threshold`); redrawn at most ten times a second and
// erased when done.
class ProgressBar {
  public:
    ProgressBar(std::string label, double total, double threshold);
    ~ProgressBar();
    ProgressBar(const ProgressBar&) = delete;
    ProgressBar& operator=(const ProgressBar&) = delete;

    void Update(double done);

  private:
    std::string label_;
    double total_;
    bool shown_;
    std::chrono::steady_clock::time_point lastDraw_{};
};

// An output file opened for writing in binary, or standard output for "-". Throws HostError
// (kExitFailed) when it cannot be opened; Close() reports a failed write the same way.
class OutputFile {
  public:
    explicit OutputFile(const std::string& path);
    ~OutputFile();
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    std::FILE* Get() const { return file_; }
    bool IsStandardOutput() const { return standardOutput_; }
    void Write(const void* data, std::size_t size);
    // Flushes and closes; throws when anything could not be written.
    void Close();

  private:
    std::string path_;
    std::FILE* file_ = nullptr;
    bool standardOutput_ = false;
};

}  // namespace flvhost
