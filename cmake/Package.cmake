# Packages through CPack (after Install.cmake): on Linux a Debian package, built from a Release
# tree configured with CMAKE_INSTALL_PREFIX=/usr; on Windows (the mingw-w64 build) a zip
# (scripts/package.sh makes both).
#
# The .deb holds everything `cmake --install` puts in place. Its maintainer scripts keep the
# machine registry in step with the files: postinst registers the installed module machine-wide
# (the classes and the type library in /var/lib/zev-registry/machine.reg), so that every user's
# hosts find the component without registering it themselves; prerm unregisters it before the
# files go; postrm --purge removes the machine hive, which the package's postinst created.
set(CPACK_PACKAGE_NAME zevflashfile5)
set(CPACK_PACKAGE_VERSION ${ZEV_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "FLV reader component for COM-style media hosts")
set(CPACK_PACKAGE_DESCRIPTION
  "FlashFile5, an in-process COM-style component that opens FLV files and delivers decoded\
 video frames and 16-bit PCM audio by time; the platform and framework libraries that hosts\
 link, flvhost (a command-line host), the headers and the CMake package for hosts.")
set(CPACK_PACKAGE_CONTACT "zevflashfile5 maintainers <maintainers@users.noreply.c-seed-780ee5e5.example>")
set(CPACK_OUTPUT_FILE_PREFIX ${CMAKE_BINARY_DIR}/packages)
set(CPACK_STRIP_FILES ON)

if(CMAKE_SYSTEM_NAME STREQUAL "Linux")
  set(CPACK_GENERATOR DEB)
  set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION video)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  # The FFmpeg, libpng and C++ runtime packages, from the libraries the binaries link.
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  # libplatform.so and libmediakit.so come with the package; dpkg-shlibdeps finds them here.
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS
    ${CMAKE_BINARY_DIR}/lib)
  set(zev_flvhost ${CPACK_PACKAGING_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/flvhost)
  set(zev_module ${CPACK_PACKAGING_INSTALL_PREFIX}/${ZEV_MODULE_FILE})
  foreach(script postinst prerm postrm)
    configure_file(${CMAKE_CURRENT_LIST_DIR}/debian/${script}.in
      ${CMAKE_BINARY_DIR}/debian/${script} @ONLY
      FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
        WORLD_READ WORLD_EXECUTE)
    list(APPEND CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${CMAKE_BINARY_DIR}/debian/${script})
  endforeach()
  set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
endif()

if(WIN32)
  # zevflashfile5-VERSION-win64.zip, everything in one folder of that name.
  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_FILE_NAME zevflashfile5-${ZEV_VERSION}-win64)
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
endif()

include(CPack)
