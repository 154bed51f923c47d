# What `cmake --install` puts where a Linux distribution expects it
# (GNUInstallDirs): the shared libraries (versioned), their public headers,
# the tools, the C examples' sources, the licence and the readme; the CMake
# package ca410 (find_package(ca410 CONFIG) -> ca410::ca410), a pkg-config
# file per library, and the Debian package (cpack -G DEB).
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

# The shared libraries users link: each gets the target ca410::<name>, a
# pkg-config file <name>.pc and a versioned file name. The colour library
# joins by itself once its target exists.
set(ca410_public_libraries ca410)
if(TARGET ca410_colour)
  list(APPEND ca410_public_libraries ca410_colour)
endif()
set(ca410_description_ca410 "Driver library for the CA-410 display colour analyser")
set(ca410_description_ca410_colour "Colour computations of the ca410 driver library")

if(NOT WIN32)
  # libca410.so -> libca410.so.0 (the SONAME) -> libca410.so.0.1.0. The
  # SONAME changes with the major version, when the binary interface breaks.
  set_target_properties(${ca410_public_libraries} PROPERTIES
    VERSION ${PROJECT_VERSION}
    SOVERSION ${PROJECT_VERSION_MAJOR})
endif()

install(TARGETS ${ca410_public_libraries} EXPORT ca410Targets
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
  INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})

# Every header in include/ is public.
file(GLOB ca410_public_headers CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/include/*.h)
install(FILES ${ca410_public_headers}
        DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})

# The tools find the installed libraries beside them, wherever the prefix is.
if(CA410_BUILD_TOOLS)
  file(RELATIVE_PATH ca410_bin_to_lib ${CMAKE_INSTALL_FULL_BINDIR} ${CMAKE_INSTALL_FULL_LIBDIR})
  if(APPLE)
    set(ca410_tool_rpath "@loader_path/${ca410_bin_to_lib}")
  else()
    set(ca410_tool_rpath "$ORIGIN/${ca410_bin_to_lib}")
  endif()
  foreach(tool ca410_cli ca410-sim)
    if(TARGET ${tool})
      set_target_properties(${tool} PROPERTIES INSTALL_RPATH "${ca410_tool_rpath}")
      install(TARGETS ${tool} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
    endif()
  endforeach()
endif()

install(FILES ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/LICENSE
              ${PROJECT_SOURCE_DIR}/PLATFORM_NOTES.md
        DESTINATION ${CMAKE_INSTALL_DOCDIR})
if(EXISTS ${PROJECT_SOURCE_DIR}/tools/sim/README.md)
  install(FILES ${PROJECT_SOURCE_DIR}/tools/sim/README.md DESTINATION ${CMAKE_INSTALL_DOCDIR}
          RENAME ca410-sim.md)
endif()
install(DIRECTORY ${PROJECT_SOURCE_DIR}/examples/ DESTINATION ${CMAKE_INSTALL_DOCDIR}/examples
        FILES_MATCHING PATTERN "*.c" PATTERN "*.h")

# The licence is stated once, in LICENSE; its first line names it ("MIT
# License") for the CMake package and the Debian package's copyright file.
file(STRINGS ${PROJECT_SOURCE_DIR}/LICENSE ca410_license_line LIMIT_COUNT 1)
string(REGEX REPLACE " License$" "" ca410_license "${ca410_license_line}")
install(FILES ${PROJECT_SOURCE_DIR}/LICENSE DESTINATION ${CMAKE_INSTALL_DOCDIR} RENAME copyright)

# CMake package: relocatable, so a tree installed with --prefix or DESTDIR
# anywhere is found through CMAKE_PREFIX_PATH.
set(ca410_cmake_dir ${CMAKE_INSTALL_LIBDIR}/cmake/ca410)
install(EXPORT ca410Targets NAMESPACE ca410:: DESTINATION ${ca410_cmake_dir})
configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/ca410Config.cmake.in
  ${PROJECT_BINARY_DIR}/ca410Config.cmake INSTALL_DESTINATION ${ca410_cmake_dir})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/ca410ConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/ca410Config.cmake ${PROJECT_BINARY_DIR}/ca410ConfigVersion.cmake
        DESTINATION ${ca410_cmake_dir})

# pkg-config files, written at install time so that they name the prefix
# the tree is installed under (--prefix, or /usr in the Debian package)
# exactly. The prefix stays a placeholder until then.
foreach(lib IN LISTS ca410_public_libraries)
  set(ca410_pc_prefix "@ca410_pc_prefix@")
  foreach(dir LIBDIR INCLUDEDIR)
    string(TOLOWER ${dir} key)
    if(IS_ABSOLUTE "${CMAKE_INSTALL_${dir}}")
      set(ca410_pc_${key} "${CMAKE_INSTALL_${dir}}")
    else()
      set(ca410_pc_${key} "\${prefix}/${CMAKE_INSTALL_${dir}}")
    endif()
  endforeach()
  set(ca410_pc_name ${lib})
  set(ca410_pc_description "${ca410_description_${lib}}")
  configure_file(${PROJECT_SOURCE_DIR}/cmake/ca410.pc.in ${PROJECT_BINARY_DIR}/pkgconfig/${lib}.pc.in
                 @ONLY)
  install(CODE "
    set(ca410_pc_prefix \"\${CMAKE_INSTALL_PREFIX}\")
    set(ca410_pc \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_LIBDIR}/pkgconfig/${lib}.pc\")
    message(STATUS \"Installing: \${ca410_pc}\")
    configure_file(\"${PROJECT_BINARY_DIR}/pkgconfig/${lib}.pc.in\" \"\${ca410_pc}\" @ONLY)
    list(APPEND CMAKE_INSTALL_MANIFEST_FILES \"\${ca410_pc}\")")
endforeach()

# The Debian package: ca410_<version>_<arch>.deb with the libraries,
# headers, tools and documents above, installed under /usr.
# Only for this project's own build: a project that adds this one with
# add_subdirectory packages itself.
if(CMAKE_SYSTEM_NAME STREQUAL "Linux" AND PROJECT_IS_TOP_LEVEL)
  set(CPACK_GENERATOR DEB)
  set(CPACK_PACKAGE_NAME ca410)
  set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
  set(CPACK_PACKAGE_VENDOR "ca410 developers")
  set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${ca410_description_ca410}")
  set(CPACK_PACKAGE_DESCRIPTION
      "Shared library, C header, command-line tool (ca410) and virtual instrument (ca410-sim) for the CA-410 display colour analyser.")
  set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
  set(CPACK_PACKAGE_CONTACT "ca410 developers")
  # DESTDIR staging: the install code above then sees /usr as the prefix.
  set(CPACK_SET_DESTDIR ON)
  set(CPACK_INSTALL_PREFIX /usr)
  set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
  set(CPACK_STRIP_FILES ON)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION libs)
  find_program(CA410_DPKG_SHLIBDEPS dpkg-shlibdeps)
  if(CA410_DPKG_SHLIBDEPS)
    set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)  # Depends: libc6, libstdc++6, ... as linked
  endif()
  include(CPack)
endif()
