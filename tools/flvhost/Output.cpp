#include "tools/flvhost/Output.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cmath>
#include <cstring>

#include "tools/flvhost/Host.h"
#include "tools/flvhost/System.h"

namespace flvhost {
namespace {
constexpr int kBarWidth = 30;
constexpr auto kRedrawInterval = std::chrono::milliseconds(100);

std::atomic<bool> interrupted{false};

std::string Quoted(std::string_view text) {
    std::string quoted = "\"";
    for (unsigned char c : text) {
        switch (c) {
            case '"':
                quoted += "\\\"";
                break;
            case '\\':
                quoted += "\\\\";
                break;
            case '\n':
                quoted += "\\n";
                break;
            case '\r':
                quoted += "\\r";
                break;
            case '\t':
                quoted += "\\t";
                break;
            default:
                if (c < 0x20) {
                    char escaped[8];
                    std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
                    quoted += escaped;
                } else {
                    quoted += static_cast<char>(c);
                }
        }
    }
    return quoted + '"';
}

void OnInterrupt(int) {
    if (interrupted.exchange(true)) ExitNow(kExitInterrupted);
}
}  // namespace

std::string FormatNumber(double value, int decimals) {
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    return text;
}

// ---------------------------------------------------------------------------------------------
// JsonWriter
// ---------------------------------------------------------------------------------------------

JsonWriter::~JsonWriter() {
    std::fputc('\n', out_);
}

void JsonWriter::Raw(std::string_view text) {
    std::fwrite(text.data(), 1, text.size(), out_);
}

void JsonWriter::Newline() {
    Raw("\n");
    for (std::size_t i = 0; i < hasItems_.size(); ++i) Raw("  ");
}

void JsonWriter::BeforeValue() {
    if (afterKey_) {
        afterKey_ = false;
        return;
    }
    if (hasItems_.empty()) return;
    if (hasItems_.back()) Raw(",");
    hasItems_.back() = true;
    Newline();
}

JsonWriter& JsonWriter::Key(std::string_view key) {
    BeforeValue();
    Raw(Quoted(key));
    Raw(": ");
    afterKey_ = true;
    return *this;
}

void JsonWriter::BeginObject() {
    BeforeValue();
    Raw("{");
    hasItems_.push_back(false);
}

void JsonWriter::EndObject() {
    const bool items = hasItems_.back();
    hasItems_.pop_back();
    if (items) Newline();
    Raw("}");
}

void JsonWriter::BeginArray() {
    BeforeValue();
    Raw("[");
    hasItems_.push_back(false);
}

void JsonWriter::EndArray() {
    const bool items = hasItems_.back();
    hasItems_.pop_back();
    if (items) Newline();
    Raw("]");
}

void JsonWriter::String(std::string_view text) {
    BeforeValue();
    Raw(Quoted(text));
}

void JsonWriter::Number(double value, int decimals) {
    BeforeValue();
    Raw(std::isfinite(value) ? FormatNumber(value, decimals) : "null");
}

void JsonWriter::Integer(std::int64_t value) {
    BeforeValue();
    Raw(std::to_string(value));
}

void JsonWriter::Bool(bool value) {
    BeforeValue();
    Raw(value ? "true" : "false");
}

void JsonWriter::Null() {
    BeforeValue();
    Raw("null");
}

// ---------------------------------------------------------------------------------------------
// Interrupt and progress
// ---------------------------------------------------------------------------------------------

void CatchInterrupt() {
    InstallInterruptHandler(OnInterrupt);
}

bool Interrupted() {
    return interrupted.load();
}

ProgressBar::ProgressBar(std::string label, double total, double threshold)
    : label_(std::move(label)),
      total_(total),
      shown_(total >= threshold && StandardErrorIsTerminal()) {}

ProgressBar::~ProgressBar() {
    if (shown_) std::fprintf(stderr, "\r\033[K");
}

void ProgressBar::Update(double done) {
    if (!shown_) return;
    const auto now = std::chrono::steady_clock::now();
    if (now - lastDraw_ < kRedrawInterval) return;
    lastDraw_ = now;
    const double fraction = total_ > 0 ? std::clamp(done / total_, 0.0, 1.0) : 0.0;
    const int filled = static_cast<int>(fraction * kBarWidth);
    std::string bar(static_cast<std::size_t>(filled), '#');
    bar.resize(kBarWidth, '.');
    std::fprintf(stderr, "\r%s [%s] %3d%%", label_.c_str(), bar.c_str(),
                 static_cast<int>(fraction * 100));
    std::fflush(stderr);
}

// ---------------------------------------------------------------------------------------------
// OutputFile
// ---------------------------------------------------------------------------------------------

OutputFile::OutputFile(const std::string& path) : path_(path) {
    if (path == "-") {
        file_ = stdout;
        standardOutput_ = true;
        return;
    }
    file_ = std::fopen(path.c_str(), "wb");
    if (file_ == nullptr) {
        throw HostError(kExitFailed, path + ": cannot be written: " + std::strerror(errno));
    }
}

OutputFile::~OutputFile() {
    if (file_ != nullptr && !standardOutput_) std::fclose(file_);
}

void OutputFile::Write(const void* data, std::size_t size) {
    if (size > 0 && std::fwrite(data, 1, size, file_) != size) {
        throw HostError(kExitFailed, (standardOutput_ ? std::string("standard output") : path_) +
                                         ": write failed: " + std::strerror(errno));
    }
}

void OutputFile::Close() {
    if (file_ == nullptr) return;
    const bool flushed = std::fflush(file_) == 0 && std::ferror(file_) == 0;
    const bool closed = standardOutput_ || std::fclose(file_) == 0;
    file_ = nullptr;
    if (!flushed || !closed) {
        throw HostError(kExitFailed, (standardOutput_ ? std::string("standard output") : path_) +
                                         ": write failed");
    }
}

}  // namespace flvhost
