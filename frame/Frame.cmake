# The component frame's interface catalogue and error support (included by frame/CMakeLists.txt).
add_library(zev_frame STATIC
  ErrorSupport.cpp
)
target_link_libraries(zev_frame PUBLIC platform)
