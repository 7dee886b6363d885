# The fuzz targets' entry points (fuzz/FuzzSupport.h) and what they share, as one library: the
# libFuzzer binaries (fuzz/CMakeLists.txt) and the test that replays tests/data/invalid/ through
# every entry point (tests/reliability) link it.
if(NOT TARGET fuzztargets)
  find_package(ZLIB REQUIRED)
  set(FUZZ_DIR ${CMAKE_SOURCE_DIR}/fuzz)
  add_library(fuzztargets STATIC
    ${FUZZ_DIR}/FuzzSupport.cpp
    ${FUZZ_DIR}/WalkFuzzer.cpp
    ${FUZZ_DIR}/TagFuzzer.cpp
    ${FUZZ_DIR}/ScriptFuzzer.cpp
    ${FUZZ_DIR}/ParamsFuzzer.cpp
    ${FUZZ_DIR}/StoredIndexFuzzer.cpp
    ${FUZZ_DIR}/FileFuzzer.cpp)
  target_link_libraries(fuzztargets PUBLIC
    zev_source zev_streams zev_frame zev_cache zev_flv zev_io mediakit platform ZLIB::ZLIB)
endif()
