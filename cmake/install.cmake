# What `cmake --install` puts under the prefix: the commands in bin/ and their man pages
# (when built), liborvus in lib/, the public headers (with the generated version.hpp) in
# include/orvus/, the CMake package `orvus` (imported target orvus::orvus) with its version
# file and orvus.pc for pkg-config. Everything compiled into liborvus is installed with it,
# whatever its sources; new public headers in include/orvus/ are picked up as they are.
include(CMakePackageConfigHelpers)

set(ORVUS_INSTALL_CMAKEDIR ${CMAKE_INSTALL_LIBDIR}/cmake/orvus
    CACHE STRING "Where the CMake package files go, relative to the prefix")

# The commands carry the library's code (its static parts) and need no run path to liborvus.
if(ORVUS_BUILD_APPS)
  install(TARGETS orvus orvus-map orvus-plan RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(FILES ${PROJECT_SOURCE_DIR}/docs/man/orvus.1 ${PROJECT_SOURCE_DIR}/docs/man/orvus-map.1
    ${PROJECT_SOURCE_DIR}/docs/man/orvus-plan.1
    DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endif()

install(TARGETS liborvus EXPORT orvusTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(DIRECTORY ${PROJECT_SOURCE_DIR}/include/orvus
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}
  FILES_MATCHING PATTERN "*.hpp" PATTERN "*.h")
install(FILES ${PROJECT_BINARY_DIR}/include/orvus/version.hpp
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/orvus)

# find_package(orvus): orvusConfig.cmake, its version file and the exported target.
install(EXPORT orvusTargets NAMESPACE orvus:: FILE orvusTargets.cmake
  DESTINATION ${ORVUS_INSTALL_CMAKEDIR})
configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/orvusConfig.cmake.in
  ${PROJECT_BINARY_DIR}/package/orvusConfig.cmake
  INSTALL_DESTINATION ${ORVUS_INSTALL_CMAKEDIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/package/orvusConfigVersion.cmake
  VERSION ${ORVUS_LIBRARY_VERSION} COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/package/orvusConfig.cmake
              ${PROJECT_BINARY_DIR}/package/orvusConfigVersion.cmake
  DESTINATION ${ORVUS_INSTALL_CMAKEDIR})

# orvus.pc finds the prefix from its own place (${pcfiledir}), so that a tree installed
# with `cmake --install --prefix` or moved elsewhere still gives the right paths.
foreach(dir LIBDIR INCLUDEDIR)
  if(IS_ABSOLUTE "${CMAKE_INSTALL_${dir}}")
    set(ORVUS_PC_${dir} "${CMAKE_INSTALL_${dir}}")
  else()
    set(ORVUS_PC_${dir} "\${prefix}/${CMAKE_INSTALL_${dir}}")
  endif()
endforeach()
if(IS_ABSOLUTE "${CMAKE_INSTALL_LIBDIR}")
  set(ORVUS_PC_PREFIX "${CMAKE_INSTALL_PREFIX}")
else()
  file(RELATIVE_PATH ORVUS_PC_UP "/prefix/${CMAKE_INSTALL_LIBDIR}/pkgconfig" "/prefix")
  string(REGEX REPLACE "/$" "" ORVUS_PC_UP "${ORVUS_PC_UP}")
  set(ORVUS_PC_PREFIX "\${pcfiledir}/${ORVUS_PC_UP}")
endif()
configure_file(${PROJECT_SOURCE_DIR}/cmake/orvus.pc.in ${PROJECT_BINARY_DIR}/package/orvus.pc
               @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/package/orvus.pc
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
