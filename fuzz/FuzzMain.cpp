// libFuzzer's entry point for one target binary: FUZZ_TARGET (set by fuzz/CMakeLists.txt) names
// the function of fuzz/FuzzSupport.h that it runs.
#include "fuzz/FuzzSupport.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    return FUZZ_TARGET(data, size);
}
