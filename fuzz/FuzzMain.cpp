// libFuzzer's entry point for one target binary: FUZZ_TARGET (set by fuzz/CMakeLists.txt) names
// the function of fuzz/FuzzTargets.h that it runs.
#include "fuzz/FuzzTargets.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    return FUZZ_TARGET(data, size);
}
