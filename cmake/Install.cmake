# What `cmake --install` puts where (GNUInstallDirs), and the CMake package that hosts find with
# find_package(zevflashfile5 CONFIG):
#
#   bin/flvhost                                  the command-line host
#   LIBDIR/libplatform.so, LIBDIR/libmediakit.so  linked by every host
#   LIBDIR/zevflashfile5/libzevflashfile5.so     the component; loaded by path from the
#                                                registry, never linked, so it stays out of the
#                                                loader's search path
#   include/zevflashfile5/{platform,mediakit,frame}/   the headers a host includes, with the
#                                                same paths as in the source tree
#   LIBDIR/cmake/zevflashfile5/                  the package: zevflashfile5::platform,
#                                                zevflashfile5::mediakit, zevflashfile5::headers
#                                                and zevflashfile5_MODULE
#   share/zevflashfile5/zevflashfile5.idl, share/doc/zevflashfile5/README.md,
#   share/man/man1/flvhost.1
#
# Every RPATH is relative to the file ($ORIGIN), so an installed tree works wherever it lands
# (the .deb under /usr, a temporary prefix, a copied folder).
set(ZEV_VERSION 1.0.0)

if(WIN32)
  # The Windows zip: the DLLs and programs side by side at its top, as a Windows user
  # registers and runs them (cmake/windows/README-Windows.txt).
  install(TARGETS zevflashfile5 mediakit flvhost host_example
    RUNTIME DESTINATION . LIBRARY DESTINATION .)
  # The type library that widl compiles in frame/ (Module.cmake), also in the DLL as TYPELIB 1.
  install(FILES ${CMAKE_SOURCE_DIR}/frame/zevflashfile5.idl
    ${CMAKE_BINARY_DIR}/frame/widl/zevflashfile5.tlb DESTINATION .)
  configure_file(${CMAKE_CURRENT_LIST_DIR}/windows/README-Windows.txt
    ${CMAKE_BINARY_DIR}/README-Windows.txt @ONLY NEWLINE_STYLE CRLF)
  install(FILES ${CMAKE_BINARY_DIR}/README-Windows.txt DESTINATION .)
  return()
endif()

include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(ZEV_MODULE_DIR ${CMAKE_INSTALL_LIBDIR}/zevflashfile5)
set(ZEV_INCLUDE_DIR ${CMAKE_INSTALL_INCLUDEDIR}/zevflashfile5)
set(ZEV_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/zevflashfile5)
file(RELATIVE_PATH zev_bin_to_lib ${CMAKE_INSTALL_FULL_BINDIR} ${CMAKE_INSTALL_FULL_LIBDIR})
file(RELATIVE_PATH zev_bin_to_module ${CMAKE_INSTALL_FULL_BINDIR}
  ${CMAKE_INSTALL_PREFIX}/${ZEV_MODULE_DIR})

# The headers as a target of their own: the include folder of an installation and C++20.
add_library(zev_headers INTERFACE)
target_include_directories(zev_headers INTERFACE $<INSTALL_INTERFACE:${ZEV_INCLUDE_DIR}>)
target_compile_features(zev_headers INTERFACE cxx_std_20)
set_target_properties(zev_headers PROPERTIES EXPORT_NAME headers)
target_link_libraries(platform PUBLIC zev_headers)
# A host that uses the framework's components uses the platform's types with them.
target_link_libraries(mediakit INTERFACE platform zev_headers)

set_target_properties(platform mediakit PROPERTIES INSTALL_RPATH "$ORIGIN")
set_target_properties(zevflashfile5 PROPERTIES INSTALL_RPATH "$ORIGIN/..")
set_target_properties(flvhost PROPERTIES INSTALL_RPATH "$ORIGIN/${zev_bin_to_lib}")
# flvhost register looks for the module here too, relative to its own folder.
target_compile_definitions(flvhost_core PRIVATE
  FLVHOST_INSTALLED_MODULE_FOLDER="${zev_bin_to_module}")

install(TARGETS flvhost RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(TARGETS zev_headers platform mediakit EXPORT zevflashfile5Targets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(TARGETS zevflashfile5 LIBRARY DESTINATION ${ZEV_MODULE_DIR})

# The platform layer's headers, all of them but the Win32 side; of mediakit and frame, those
# that declare the interfaces, class identifiers and MediaKitRegisterClasses.
install(DIRECTORY ${CMAKE_SOURCE_DIR}/platform/ DESTINATION ${ZEV_INCLUDE_DIR}/platform
  FILES_MATCHING PATTERN "*.h" PATTERN "windows" EXCLUDE)
install(FILES ${CMAKE_SOURCE_DIR}/mediakit/MediaInterfaces.h ${CMAKE_SOURCE_DIR}/mediakit/MediaKit.h
  DESTINATION ${ZEV_INCLUDE_DIR}/mediakit)
install(FILES ${CMAKE_SOURCE_DIR}/frame/Interfaces.h ${CMAKE_SOURCE_DIR}/frame/ClassId.h
  DESTINATION ${ZEV_INCLUDE_DIR}/frame)
install(FILES ${CMAKE_SOURCE_DIR}/frame/zevflashfile5.idl
  DESTINATION ${CMAKE_INSTALL_DATADIR}/zevflashfile5)
install(FILES ${CMAKE_SOURCE_DIR}/README.md DESTINATION ${CMAKE_INSTALL_DOCDIR})

# flvhost.1 from flvhost's own --help texts (the program runs on the build machine).
if(NOT CMAKE_CROSSCOMPILING)
  set(zev_man_page ${CMAKE_BINARY_DIR}/man/flvhost.1)
  add_custom_command(OUTPUT ${zev_man_page}
    COMMAND ${CMAKE_COMMAND} -DFLVHOST=$<TARGET_FILE:flvhost> -DOUTPUT=${zev_man_page}
      -DVERSION=${ZEV_VERSION} -P ${CMAKE_CURRENT_LIST_DIR}/FlvhostManPage.cmake
    DEPENDS flvhost ${CMAKE_CURRENT_LIST_DIR}/FlvhostManPage.cmake
    COMMENT "flvhost.1 from flvhost --help")
  add_custom_target(flvhost_man ALL DEPENDS ${zev_man_page})
  install(FILES ${zev_man_page} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endif()

install(EXPORT zevflashfile5Targets NAMESPACE zevflashfile5:: DESTINATION ${ZEV_CMAKE_DIR})
set(ZEV_MODULE_FILE
  ${ZEV_MODULE_DIR}/${CMAKE_SHARED_LIBRARY_PREFIX}zevflashfile5${CMAKE_SHARED_LIBRARY_SUFFIX})
configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/zevflashfile5Config.cmake.in
  ${CMAKE_BINARY_DIR}/zevflashfile5Config.cmake
  INSTALL_DESTINATION ${ZEV_CMAKE_DIR}
  PATH_VARS ZEV_MODULE_FILE ZEV_INCLUDE_DIR)
write_basic_package_version_file(${CMAKE_BINARY_DIR}/zevflashfile5ConfigVersion.cmake
  VERSION ${ZEV_VERSION} COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_BINARY_DIR}/zevflashfile5Config.cmake
  ${CMAKE_BINARY_DIR}/zevflashfile5ConfigVersion.cmake DESTINATION ${ZEV_CMAKE_DIR})
