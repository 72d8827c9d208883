# The layer check (cmake/check_layers.cmake) passes on the tree and fails on a copy of it with
# an include planted against the order, naming the file, the line and both folders; and on a
# folder that has no place in the order.
#   cmake -DSOURCE_DIR=<project> -DLAYERS=<list> -DWORK=<scratch dir> -P check_layers_test.cmake
cmake_policy(SET CMP0007 NEW)
set(check ${SOURCE_DIR}/cmake/check_layers.cmake)

function(run_check core_dir result_var output_var)
  execute_process(COMMAND ${CMAKE_COMMAND} -DCORE_DIR=${core_dir} "-DLAYERS=${LAYERS}" -P ${check}
                  RESULT_VARIABLE result OUTPUT_VARIABLE out ERROR_VARIABLE err)
  set(${result_var} ${result} PARENT_SCOPE)
  set(${output_var} "${out}${err}" PARENT_SCOPE)
endfunction()

run_check(${SOURCE_DIR}/src/core result out)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "The tree fails its own layer check:\n${out}")
endif()

# A copy with time/ (low) including plan/ (the top) at line 3 of a new file, and a stray
# folder.
file(REMOVE_RECURSE ${WORK})
file(COPY ${SOURCE_DIR}/src/core DESTINATION ${WORK}/src)
file(WRITE ${WORK}/src/core/time/planted.cpp
     "// planted\n\n#include \"core/plan/plan_internal.hpp\"\n#include \"core/io/text.hpp\"\n")
file(MAKE_DIRECTORY ${WORK}/src/core/stray)
run_check(${WORK}/src/core result out)
if(result EQUAL 0)
  message(FATAL_ERROR "The layer check passed a tree with time/ including plan/")
endif()
foreach(expected
    "src/core/time/planted.cpp:3: core/time includes core/plan, which lies above it"
    "core/stray/ has no place in the layer order")
  string(FIND "${out}" "${expected}" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "The layer check did not say \"${expected}\":\n${out}")
  endif()
endforeach()
# The include of a folder below (io/, line 4) is no fault.
string(FIND "${out}" "planted.cpp:4" at)
if(NOT at EQUAL -1)
  message(FATAL_ERROR "The layer check refused an include of a folder below:\n${out}")
endif()
file(REMOVE_RECURSE ${WORK})
