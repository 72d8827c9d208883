# Checks that the folders of src/core include one another only downward in the layer order:
# a file of one folder may include "core/<folder>/..." only for its own folder or one listed
# before it. Run as a step of the build (src/CMakeLists.txt) and by its test (tests/):
#
#   cmake -DCORE_DIR=<src/core> -DLAYERS="io;time;..." [-DSTAMP=<file>] -P check_layers.cmake
#
# Fails naming every file and line that includes against the order, with both folders; also
# fails on a folder of CORE_DIR missing from LAYERS, or an include of a folder that is not one.
# Touches STAMP when the tree passes. Headers directly in CORE_DIR (shared constants) belong
# to no layer and may be included from any.
cmake_minimum_required(VERSION 3.16)
cmake_policy(SET CMP0007 NEW)

if(NOT CORE_DIR OR NOT LAYERS)
  message(FATAL_ERROR "check_layers.cmake: give -DCORE_DIR=<src/core> and -DLAYERS=<list>")
endif()

set(problems)
string(REPLACE ";" " < " order "${LAYERS}")

# Every folder has its place in the order.
file(GLOB entries LIST_DIRECTORIES true RELATIVE ${CORE_DIR} ${CORE_DIR}/*)
foreach(entry IN LISTS entries)
  if(IS_DIRECTORY ${CORE_DIR}/${entry} AND NOT entry IN_LIST LAYERS)
    list(APPEND problems "core/${entry}/ has no place in the layer order")
  endif()
endforeach()

list(LENGTH LAYERS count)
math(EXPR last "${count} - 1")
foreach(rank RANGE ${last})
  list(GET LAYERS ${rank} folder)
  file(GLOB_RECURSE sources ${CORE_DIR}/${folder}/*.cpp ${CORE_DIR}/${folder}/*.hpp
       ${CORE_DIR}/${folder}/*.h)
  list(SORT sources)
  foreach(source IN LISTS sources)
    file(STRINGS ${source} lines)
    set(number 0)
    foreach(line IN LISTS lines)
      math(EXPR number "${number} + 1")
      if(line MATCHES "^[ \t]*#[ \t]*include[ \t]*[\"<]core/([A-Za-z0-9_]+)/")
        set(used ${CMAKE_MATCH_1})
        list(FIND LAYERS ${used} used_rank)
        file(RELATIVE_PATH shown ${CORE_DIR}/../.. ${source})
        if(used_rank EQUAL -1)
          list(APPEND problems
               "${shown}:${number}: includes core/${used}/, which is no folder of the order")
        elseif(used_rank GREATER rank)
          list(APPEND problems "${shown}:${number}: core/${folder} includes core/${used}, \
which lies above it in the layer order")
        endif()
      endif()
    endforeach()
  endforeach()
endforeach()

if(problems)
  list(JOIN problems "\n  " text)
  message(FATAL_ERROR "Includes against the layers of src/core (${order}):\n  ${text}")
endif()
if(STAMP)
  file(TOUCH ${STAMP})
endif()
