// bench_rawwalk FILE: the practical limit of an index walk. Reads the file through a 256 KiB
// window, as the component's input stream does (reloaded at the cursor when a tag header runs
// past its end, reloaded at the target when a hop lands outside it), and only hops from tag
// header to tag header: no parsing of bodies, no index.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <memory>

#include "bench/BenchSupport.h"

namespace {
constexpr std::uint64_t kWindowCapacity = 0x40000;
constexpr std::uint64_t kTagHeaderSize = 11;
constexpr std::uint64_t kPreviousTagSizeBytes = 4;
constexpr std::uint64_t kFileHeaderMinimum = 9;

class Window {
  public:
    Window(int descriptor, std::uint64_t fileSize)
        : descriptor_(descriptor),
          fileSize_(fileSize),
          block_(new unsigned char[kWindowCapacity]) {}

    // Makes `count` bytes at file offset `offset` readable; null when the file ends first.
    const unsigned char* At(std::uint64_t offset, std::uint64_t count) {
        if (offset >= start_ && offset - start_ <= length_ &&
            count <= length_ - (offset - start_)) {
            return block_.get() + (offset - start_);
        }
        if (offset > fileSize_ || count > fileSize_ - offset) return nullptr;
        const std::uint64_t wanted = std::min(kWindowCapacity, fileSize_ - offset);
        const ssize_t got = pread(descriptor_, block_.get(), wanted, static_cast<off_t>(offset));
        start_ = offset;
        length_ = got > 0 ? static_cast<std::uint64_t>(got) : 0;
        ++reloads_;
        return count <= length_ ? block_.get() : nullptr;
    }
    long long Reloads() const { return reloads_; }

  private:
    int descriptor_;
    std::uint64_t fileSize_;
    std::unique_ptr<unsigned char[]> block_;
    std::uint64_t start_ = 0;
    std::uint64_t length_ = 0;
    long long reloads_ = 0;
};
}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: bench_rawwalk FILE\n");
        return 2;
    }
    const double start = bench::Now();
    const double cpuStart = bench::CpuSeconds();
    const int descriptor = open(argv[1], O_RDONLY);
    struct stat status {};
    if (descriptor < 0 || fstat(descriptor, &status) != 0) {
        std::perror(argv[1]);
        return 1;
    }
    const auto fileSize = static_cast<std::uint64_t>(status.st_size);
    Window window(descriptor, fileSize);
    const unsigned char* header = window.At(0, kFileHeaderMinimum);
    if (header == nullptr) return 1;
    const std::uint64_t dataOffset =
        (std::uint64_t{header[5]} << 24) | (header[6] << 16) | (header[7] << 8) | header[8];
    std::uint64_t offset = dataOffset + kPreviousTagSizeBytes;
    long long tags = 0;
    std::uint64_t timeSum = 0;
    for (;;) {
        const unsigned char* tag = window.At(offset, kTagHeaderSize);
        if (tag == nullptr) break;
        const std::uint64_t dataSize = (std::uint64_t{tag[1]} << 16) | (tag[2] << 8) | tag[3];
        const std::uint32_t time =
            (std::uint32_t{tag[7]} << 24) | (tag[4] << 16) | (tag[5] << 8) | tag[6];
        timeSum += time;
        ++tags;
        offset += kTagHeaderSize + dataSize + kPreviousTagSizeBytes;
        if (offset >= fileSize) break;
    }
    const double seconds = bench::Now() - start;
    close(descriptor);
    bench::Report("seconds", seconds);
    bench::Report("cpu_seconds", bench::CpuSeconds() - cpuStart);
    bench::Report("tags", tags);
    bench::Report("reloads", window.Reloads());
    bench::Report("time_sum", static_cast<long long>(timeSum));
    bench::Report("rss_kib", bench::PeakRssKiB());
    return 0;
}
