# The audio stream object (CFlashAudioStream5).
add_library(zev_audio_stream STATIC ${CMAKE_CURRENT_SOURCE_DIR}/AudioStream.cpp)
target_link_libraries(zev_audio_stream PUBLIC zev_cache zev_flv platform)
if(TARGET zev_frame)
  target_link_libraries(zev_audio_stream PUBLIC zev_frame)
endif()
target_link_libraries(zev_streams INTERFACE zev_audio_stream)
