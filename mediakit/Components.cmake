target_sources(mediakit PRIVATE
  AudioFormat.cpp
  AudioPacketQueue.cpp
  ClassList.cpp
  MediaKit.cpp
  MediaParams.cpp
  ParamList.cpp
  ParamsFile.cpp
  StreamBytes.cpp
  VideoFormat.cpp
)
