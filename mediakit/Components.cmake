target_sources(mediakit PRIVATE MediaKit.cpp)
