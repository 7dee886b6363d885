# The video and audio decoders on libavcodec, libswscale and libswresample.
target_sources(mediakit PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/AudioDecoder.cpp
  ${CMAKE_CURRENT_LIST_DIR}/DecoderBitstream.cpp
  ${CMAKE_CURRENT_LIST_DIR}/DecoderSupport.cpp
  ${CMAKE_CURRENT_LIST_DIR}/VideoDecoder.cpp)
