# Builds the package once more, from nothing, in other folders, umasks and time zones than the build
# tree BUILD, and fails unless every build gives the same bytes, sha256sum -c accepts BUILD's
# checksum file, and unzip and Python's zipfile read the archive with the entries' times in Japan
# Standard Time and no field of the builder's. Run as root, it builds twice from a copy of the
# sources that user 65534 owns: once as root (a checkout another user owns) and once as that user.
# cmake -DSRC=<source tree> -DBUILD=<build tree> -DTOOLCHAIN=<file> -DGENERATOR=<generator>
#       -DBUILD_TYPE=<type> -DVERSION=<version> -DPYTHON=<python3> -P check_rebuild.cmake

set(zip tavro-${VERSION}.zip)
set(files app/tavro.exe app/_README.txt app/LICENSE.txt ${zip} ${zip}.sha256)
set(user 65534)

execute_process(COMMAND id -u OUTPUT_VARIABLE uid OUTPUT_STRIP_TRAILING_WHITESPACE)
execute_process(COMMAND mktemp -d /tmp/tavro-rebuild.XXXXXX OUTPUT_VARIABLE work
                OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "no temporary folder")
endif()
file(CHMOD "${work}" DIRECTORY_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ
                                           GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

# Another umask than this one.
execute_process(COMMAND sh -c umask OUTPUT_VARIABLE mask OUTPUT_STRIP_TRAILING_WHITESPACE)
if(mask STREQUAL "0077")
  set(other_mask 0002)
else()
  set(other_mask 0077)
endif()

# The sources as they stand, owned by the other user: in a checkout what git tracks or would track,
# changes not yet committed included, and its history; elsewhere all but the build tree.
set(src "${SRC}")
if(uid STREQUAL "0")
  set(src "${work}/src")
  file(MAKE_DIRECTORY "${src}")
  if(EXISTS "${SRC}/.git")
    set(list_sources "git -c safe.directory='*' -c core.quotePath=false ls-files -z --cached --others \
                      --exclude-standard && printf '.git\\0'")
  else()
    file(RELATIVE_PATH in_src "${SRC}" "${BUILD}")
    set(list_sources "find . -path './${in_src}' -prune -o -type f -print0")
  endif()
  execute_process(
    COMMAND sh -c "{ ${list_sources}; } | tar --null --ignore-failed-read -T - -cf - | tar -C \"$1\" -xf -"
            sh "${src}"
    WORKING_DIRECTORY "${SRC}" RESULT_VARIABLE rc ERROR_VARIABLE err)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "copying ${SRC} failed: ${err}")
  endif()
  file(MAKE_DIRECTORY "${work}/user")
  execute_process(COMMAND chown -R ${user}:${user} "${src}" "${work}/user" RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "cannot give ${src} to user ${user}")
  endif()
endif()

string(REPLACE "${SRC}" "${src}" toolchain "${TOOLCHAIN}")

# Configures TREE from SRC and builds only the package, under the umask and zone given, as the
# command prefix AS says (nothing: as this user).
function(build_package tree umask zone)
  set(in_mask ${ARGN} env TZ=${zone} sh -c "umask ${umask} && exec \"$@\"" sh)
  execute_process(
    COMMAND ${in_mask} "${CMAKE_COMMAND}" -S "${src}" -B "${tree}" -G "${GENERATOR}"
            -DCMAKE_BUILD_TYPE=${BUILD_TYPE} -DCMAKE_TOOLCHAIN_FILE=${toolchain}
    OUTPUT_VARIABLE log ERROR_VARIABLE log RESULT_VARIABLE rc)
  if(rc EQUAL 0)
    cmake_host_system_information(RESULT jobs QUERY NUMBER_OF_LOGICAL_CORES)
    execute_process(
      COMMAND ${in_mask} "${CMAKE_COMMAND}" --build "${tree}" --target tavro_package -j ${jobs}
      OUTPUT_VARIABLE log ERROR_VARIABLE log RESULT_VARIABLE rc)
  endif()
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "the build in ${tree} (umask ${umask}, TZ=${zone}) failed:\n${log}")
  endif()
  if(log MATCHES "CMake Warning|warning:")
    message(FATAL_ERROR "the build in ${tree} warned:\n${log}")
  endif()

  set(failed "")
  foreach(f IN LISTS files)
    execute_process(COMMAND cmp "${BUILD}/${f}" "${tree}/${f}" OUTPUT_VARIABLE out ERROR_VARIABLE out
                    RESULT_VARIABLE rc)
    if(NOT rc EQUAL 0)
      string(APPEND failed "${out}")
    endif()
  endforeach()
  if(failed)
    message(FATAL_ERROR "umask ${umask}, TZ=${zone}, ${ARGN}, from ${src} in ${tree}:\n${failed}")
  endif()
  message(STATUS "same bytes: ${tree} (umask ${umask}, TZ=${zone}) ${ARGN}")
endfunction()

# Zones nobody builds in, with part-hour offsets.
build_package("${work}/root" ${other_mask} XST+11:15)
if(uid STREQUAL "0")
  build_package("${work}/user" 0022 YST-13:45
                setpriv --reuid=${user} --regid=${user} --clear-groups env HOME=${work}/user)
endif()
file(REMOVE_RECURSE "${work}")

execute_process(COMMAND sha256sum -c ${zip}.sha256 WORKING_DIRECTORY "${BUILD}"
                OUTPUT_VARIABLE out ERROR_VARIABLE out RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "sha256sum -c rejects ${BUILD}/${zip}.sha256:\n${out}")
endif()

execute_process(COMMAND unzip -tq "${BUILD}/${zip}" OUTPUT_VARIABLE out ERROR_VARIABLE out
                RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "unzip -t rejects ${BUILD}/${zip}:\n${out}")
endif()
file(READ "${BUILD}/source_date_epoch" epoch)
string(STRIP "${epoch}" epoch)
execute_process(COMMAND "${PYTHON}" -c [[
import sys, time, zipfile
z = zipfile.ZipFile(sys.argv[1])
jst = time.gmtime(int(sys.argv[2]) + 9 * 3600)[:6]
want = ["tavro.exe", "_README.txt", "LICENSE.txt"]
assert z.testzip() is None, "a damaged entry"
assert z.namelist() == want, z.namelist()
for i in z.infolist():
    assert i.date_time[:5] == jst[:5] and i.date_time[5] == jst[5] // 2 * 2, (i.filename, i.date_time, jst)
    assert i.extra == b"", (i.filename, "extra field", i.extra)
]] "${BUILD}/${zip}" "${epoch}" ERROR_VARIABLE out RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "${BUILD}/${zip}:\n${out}")
endif()
