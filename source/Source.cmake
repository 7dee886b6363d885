# The source object (FlashFile5): commands, open and close, parameters, track access and
# forwarding, re-open, the writing side, and its event connection point.
add_library(zev_source STATIC
  ${CMAKE_CURRENT_LIST_DIR}/ConnectionPoint.cpp
  ${CMAKE_CURRENT_LIST_DIR}/FlashFile5.cpp
  ${CMAKE_CURRENT_LIST_DIR}/FlashFile5Tracks.cpp
  ${CMAKE_CURRENT_LIST_DIR}/FlashFile5Writing.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ReOpen.cpp)
target_link_libraries(zev_source PUBLIC zev_cache zev_flv zev_frame platform)
