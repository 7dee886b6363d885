# The video stream object (FlashVideoStream5).
add_library(zev_video_stream STATIC
  ${CMAKE_CURRENT_LIST_DIR}/VideoStream.cpp
  ${CMAKE_CURRENT_LIST_DIR}/VideoStreamTimeline.cpp
  ${CMAKE_CURRENT_LIST_DIR}/VideoFrames.cpp)
target_link_libraries(zev_video_stream PUBLIC zev_stream_index zev_cache zev_flv platform)
if(TARGET zev_frame)
  target_link_libraries(zev_video_stream PUBLIC zev_frame)
endif()
target_link_libraries(zev_streams INTERFACE zev_video_stream)
