# The component module, built from the static libraries of every subsystem and loaded by hosts
# through the registry. It links the platform layer and nothing of the host framework
# (mediakit): those objects are reached by class identifier only. Exports: the five Dll* entry
# points and nothing else.
if(WIN32)
  # zevflashfile5.dll: the exports of zevflashfile5.def; the type library and the proxy/stub code
  # that widl makes from zevflashfile5.idl (the type library as resource TYPELIB 1).
  set(widl_out ${CMAKE_CURRENT_BINARY_DIR}/widl)
  set(idl ${CMAKE_CURRENT_LIST_DIR}/zevflashfile5.idl)
  # widl finds the IDL files of the system's interfaces (oaidl.idl, ocidl.idl) among Wine's
  # development files, and stdole2.tlb among Wine's libraries.
  set(widl_command ${FLV_WIDL} -m64 -I/usr/include/wine/wine/windows
    -L/usr/lib/x86_64-linux-gnu/wine/x86_64-windows)
  add_custom_command(
    OUTPUT ${widl_out}/zevflashfile5.tlb ${widl_out}/zevflashfile5_p.c ${widl_out}/zevflashfile5.h
      ${widl_out}/zevflashfile5_i.c
    COMMAND ${CMAKE_COMMAND} -E make_directory ${widl_out}
    COMMAND ${widl_command} -t -o ${widl_out}/zevflashfile5.tlb ${idl}
    COMMAND ${widl_command} -Oif -p -o ${widl_out}/zevflashfile5_p.c ${idl}
    COMMAND ${widl_command} -h -o ${widl_out}/zevflashfile5.h ${idl}
    COMMAND ${widl_command} -u -o ${widl_out}/zevflashfile5_i.c ${idl}
    DEPENDS ${idl}
    COMMENT "widl: type library and proxy/stub of zevflashfile5.idl")
  set_source_files_properties(${CMAKE_CURRENT_LIST_DIR}/windows/ProxyStubCode.c
    ${widl_out}/zevflashfile5_i.c PROPERTIES COMPILE_OPTIONS "-w")
  set_source_files_properties(${CMAKE_CURRENT_LIST_DIR}/windows/ProxyStubCode.c
    PROPERTIES OBJECT_DEPENDS ${widl_out}/zevflashfile5_p.c)
  set_source_files_properties(${CMAKE_CURRENT_LIST_DIR}/windows/zevflashfile5.rc
    PROPERTIES OBJECT_DEPENDS ${widl_out}/zevflashfile5.tlb)
  add_library(zevflashfile5 SHARED
    ${CMAKE_CURRENT_LIST_DIR}/Module.cpp
    ${CMAKE_CURRENT_LIST_DIR}/windows/ProxyStub.cpp
    ${CMAKE_CURRENT_LIST_DIR}/windows/ProxyStubCode.c
    ${CMAKE_CURRENT_LIST_DIR}/windows/zevflashfile5.rc
    ${CMAKE_CURRENT_LIST_DIR}/windows/zevflashfile5.def
    ${widl_out}/zevflashfile5_i.c)
  target_include_directories(zevflashfile5 PRIVATE ${widl_out})
  target_link_libraries(zevflashfile5 PRIVATE
    zev_source zev_streams zev_cache zev_flv zev_io zev_frame zev_registrar platform rpcrt4)
else()
  # libzevflashfile5.so. The version script hides every other symbol, and --exclude-libs keeps
  # the static libraries' symbols out of the dynamic table too.
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
endif()
