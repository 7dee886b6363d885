# The audio stream object (CFlashAudioStream5), and the index building that the stream objects
# share (zev_stream_index).
add_library(zev_stream_index STATIC ${CMAKE_CURRENT_LIST_DIR}/StreamIndex.cpp)
target_link_libraries(zev_stream_index PUBLIC zev_cache zev_flv platform)

add_library(zev_audio_stream STATIC ${CMAKE_CURRENT_LIST_DIR}/AudioStream.cpp)
target_link_libraries(zev_audio_stream PUBLIC zev_stream_index zev_cache zev_flv platform)
if(TARGET zev_frame)
  target_link_libraries(zev_audio_stream PUBLIC zev_frame)
endif()
target_link_libraries(zev_streams INTERFACE zev_audio_stream)
