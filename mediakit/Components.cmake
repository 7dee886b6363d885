target_sources(mediakit PRIVATE
  AudioFormat.cpp
  AudioPacketQueue.cpp
  ClassList.cpp
  Crc32.cpp
  FileRangeStream.cpp
  MediaKit.cpp
  MediaParams.cpp
  PacketBlocks.cpp
  ParamList.cpp
  ParamsFile.cpp
  StreamBytes.cpp
  VideoFormat.cpp
  VideoPacket.cpp
)
