// The main of every test program: COM for the main thread in a single-threaded apartment, as a
// host starts it (the component's classes are apartment-threaded), around the whole run.
#include <gtest/gtest.h>

#include "platform/Com.h"

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    const HRESULT initialised = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    if (FAILED(initialised)) return 1;
    const int result = RUN_ALL_TESTS();
    CoUninitialize();
    return result;
}
