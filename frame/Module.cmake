# libzevflashfile5.so: the component, built from the static libraries of every subsystem and
# loaded by hosts through the registry. It links libplatform.so and nothing of the host
# framework (mediakit): those objects are reached by class identifier only.
#
# Exports: the five Dll* entry points and nothing else. The version script hides every other
# symbol, and --exclude-libs keeps the static libraries' symbols out of the dynamic table too.
add_library(zevflashfile5 SHARED ${CMAKE_CURRENT_LIST_DIR}/Module.cpp)
target_link_libraries(zevflashfile5 PRIVATE
  zev_source zev_streams zev_cache zev_flv zev_io zev_frame zev_registrar platform)
target_link_options(zevflashfile5 PRIVATE
  "LINKER:--exclude-libs,ALL"
  "LINKER:--version-script=${CMAKE_CURRENT_LIST_DIR}/Module.map")
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
  # Every symbol resolved at link time: a stray use of another library fails the build here
  # rather than the host's dlopen.
  target_link_options(zevflashfile5 PRIVATE "LINKER:-z,defs")
endif()
set_target_properties(zevflashfile5 PROPERTIES LINK_DEPENDS ${CMAKE_CURRENT_LIST_DIR}/Module.map)
