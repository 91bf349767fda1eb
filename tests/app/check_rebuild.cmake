# Builds tavro.exe and the archive once more, from nothing, in OTHER, under another umask and time
# zone than the build tree BUILD, and fails unless both give the same bytes and sha256sum -c accepts
# BUILD's checksum file.
# cmake -DSRC=<source tree> -DBUILD=<build tree> -DOTHER=<folder> -DTOOLCHAIN=<file>
#       -DGENERATOR=<generator> -DBUILD_TYPE=<type> -DVERSION=<version> -P check_rebuild.cmake

set(files app/tavro.exe app/_README.txt tavro-${VERSION}.zip tavro-${VERSION}.zip.sha256)

# Another umask than this one, and a zone nobody builds in, with a part-hour offset.
execute_process(COMMAND sh -c umask OUTPUT_VARIABLE mask OUTPUT_STRIP_TRAILING_WHITESPACE)
if(mask STREQUAL "0077")
  set(mask 0002)
else()
  set(mask 0077)
endif()
set(ENV{TZ} XST+11:15)

file(REMOVE_RECURSE "${OTHER}")
cmake_host_system_information(RESULT jobs QUERY NUMBER_OF_LOGICAL_CORES)
set(in_mask sh -c "umask ${mask} && exec \"$@\"" sh)
execute_process(
  COMMAND ${in_mask} "${CMAKE_COMMAND}" -S "${SRC}" -B "${OTHER}" -G "${GENERATOR}"
          -DCMAKE_BUILD_TYPE=${BUILD_TYPE} -DCMAKE_TOOLCHAIN_FILE=${TOOLCHAIN}
  OUTPUT_VARIABLE log ERROR_VARIABLE log RESULT_VARIABLE rc)
if(rc EQUAL 0)
  # Only what the package needs.
  execute_process(
    COMMAND ${in_mask} "${CMAKE_COMMAND}" --build "${OTHER}" --target tavro_package -j ${jobs}
    OUTPUT_VARIABLE log ERROR_VARIABLE log RESULT_VARIABLE rc)
endif()
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "the second build failed:\n${log}")
endif()

set(failed "")
foreach(f IN LISTS files)
  execute_process(COMMAND cmp "${BUILD}/${f}" "${OTHER}/${f}" OUTPUT_VARIABLE out ERROR_VARIABLE out
                  RESULT_VARIABLE rc)
  if(rc EQUAL 0)
    message(STATUS "same bytes: ${f}")
  else()
    string(APPEND failed "${out}")
  endif()
endforeach()
if(failed)
  message(FATAL_ERROR "umask ${mask}, TZ=$ENV{TZ}, in ${OTHER}:\n${failed}")
endif()

execute_process(COMMAND sha256sum -c tavro-${VERSION}.zip.sha256 WORKING_DIRECTORY "${BUILD}"
                OUTPUT_VARIABLE out ERROR_VARIABLE out RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "sha256sum -c rejects ${BUILD}/tavro-${VERSION}.zip.sha256:\n${out}")
endif()
