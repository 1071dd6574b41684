cmake_minimum_required(VERSION 3.25)
# Builds the DLL target again from a copy of the sources in another folder,
# minutes after the tree's own build, and fails unless the two DLLs, debug
# information included, are the same bytes. A build path, a link time or
# anything else that varies between builds shows up here.
#
#   cmake -DSOURCE_DIR=... -DBINARY_DIR=... -DWORK_DIR=... -DDLL=...
#         -DTOOLCHAIN_FILE=... -DBUILD_TYPE=... -DTARGET=... -P CheckReproducible.cmake
foreach(var SOURCE_DIR BINARY_DIR WORK_DIR DLL TOOLCHAIN_FILE BUILD_TYPE TARGET)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "${var} not given")
  endif()
endforeach()

# Another folder, of another length, for the sources and for the build tree.
set(copy "${WORK_DIR}/sources-in-another-folder")
set(tree "${WORK_DIR}/another-build-tree")
file(REMOVE_RECURSE "${WORK_DIR}")
file(MAKE_DIRECTORY "${copy}")

# The sources without build trees and without the repository.
file(GLOB entries RELATIVE "${SOURCE_DIR}" "${SOURCE_DIR}/*" "${SOURCE_DIR}/.*")
cmake_path(RELATIVE_PATH BINARY_DIR BASE_DIRECTORY "${SOURCE_DIR}" OUTPUT_VARIABLE inside)
string(REGEX REPLACE "/.*" "" inside "${inside}")
foreach(entry IN LISTS entries)
  if(entry MATCHES "^(\\.|\\.\\.|\\.git|build)$" OR entry STREQUAL inside)
    continue()
  endif()
  file(COPY "${SOURCE_DIR}/${entry}" DESTINATION "${copy}")
endforeach()

execute_process(
  COMMAND ${CMAKE_COMMAND} -S "${copy}" -B "${tree}" -G Ninja
          -DCMAKE_TOOLCHAIN_FILE=${TOOLCHAIN_FILE} -DCMAKE_BUILD_TYPE=${BUILD_TYPE}
  OUTPUT_FILE "${WORK_DIR}/configure.log" ERROR_FILE "${WORK_DIR}/configure.log" RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  file(READ "${WORK_DIR}/configure.log" log)
  message(FATAL_ERROR "configuring the second tree failed:\n${log}")
endif()
execute_process(COMMAND ${CMAKE_COMMAND} --build "${tree}" --target ${TARGET} RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "building ${TARGET} in the second tree failed")
endif()

get_filename_component(name "${DLL}" NAME)
set(again "${tree}/bin/${name}")
execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files "${DLL}" "${again}" RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  file(SIZE "${DLL}" size1)
  file(SIZE "${again}" size2)
  execute_process(COMMAND cmp -l "${DLL}" "${again}" OUTPUT_VARIABLE differing ERROR_QUIET)
  string(REGEX MATCHALL "[^\n]+\n" lines "${differing}")
  list(LENGTH lines count)
  list(SUBLIST lines 0 10 first)
  string(JOIN "" first ${first})
  message(FATAL_ERROR "${name} differs when built in another folder: ${size1} against ${size2} bytes, "
          "${count} bytes differ; the first (offset, octal bytes):\n${first}"
          "both builds are kept in ${BINARY_DIR} and ${tree}")
endif()
message(STATUS "${name}: the same ${DLL} built again in ${tree}")
file(REMOVE_RECURSE "${WORK_DIR}")
