# The version in the forms the packaging needs, from project(VERSION): the generated header
# include/orvus/version.hpp (build tree, installed with the public headers) and the shared
# library's version. Included before the sources, which compile against the header.
include(GNUInstallDirs)

if(PROJECT_VERSION_PATCH STREQUAL "")
  set(ORVUS_LIBRARY_VERSION ${PROJECT_VERSION_MAJOR}.${PROJECT_VERSION_MINOR}.0)
else()
  set(ORVUS_LIBRARY_VERSION ${PROJECT_VERSION_MAJOR}.${PROJECT_VERSION_MINOR}.${PROJECT_VERSION_PATCH})
endif()

configure_file(${PROJECT_SOURCE_DIR}/include/orvus/version.hpp.in
               ${PROJECT_BINARY_DIR}/include/orvus/version.hpp @ONLY)
