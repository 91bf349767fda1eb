# Builds the package once more, from nothing, in other folders, umasks and time zones than the build
# tree BUILD, and fails unless every build gives the same bytes, buildinfo included, sha256sum -c
# accepts BUILD's checksum file, BUILD's buildinfo names the archive as it is, and unzip and
# Python's zipfile read the archive with the entries' times in Japan Standard Time and no field of
# the builder's. Run as root, it builds twice from a copy of the sources that user 65534 owns: once
# as root (a checkout another user owns) and once as that user. The other folder is named as users
# name theirs (Japanese, blanks, parentheses, an apostrophe and an ampersand); besides the package
# it makes the process tests' symbol header, the other output of a command that a shell runs. All
# of it lies in one folder under $TMPDIR (/tmp when unset), removed whether the check passes or
# fails.
# cmake -DSRC=<source tree> -DBUILD=<build tree> -DTOOLCHAIN=<file> -DGENERATOR=<generator>
#       -DBUILD_TYPE=<type> -DVERSION=<version> -DPYTHON=<python3> -P check_rebuild.cmake

set(zip tavro-${VERSION}.zip)
set(buildinfo tavro-${VERSION}.buildinfo)
set(files app/tavro.exe app/_README.txt app/LICENSE.txt ${zip} ${zip}.sha256 ${buildinfo})
set(user 65534)

execute_process(COMMAND id -u OUTPUT_VARIABLE uid OUTPUT_STRIP_TRAILING_WHITESPACE)
set(tmp "$ENV{TMPDIR}")
if(tmp STREQUAL "")
  set(tmp /tmp)
endif()
execute_process(COMMAND mktemp -d "${tmp}/tavro-rebuild.XXXXXX" OUTPUT_VARIABLE work
                OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_VARIABLE err RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "no temporary folder in ${tmp}: ${err}")
endif()

# Every failure from here on goes through fail(), which first removes the work folder (as root,
# the other user's files in it too).
function(fail text)
  file(REMOVE_RECURSE "${work}")
  message(FATAL_ERROR "${text}")
endfunction()

set(elsewhere "${work}/作業 フォルダ/it's & tavro-main (1)")
file(MAKE_DIRECTORY "${elsewhere}")
# The other user must pass through to its folders, whatever this one's umask.
foreach(dir "${work}" "${work}/作業 フォルダ" "${elsewhere}")
  file(CHMOD "${dir}" DIRECTORY_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ
                                            GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
endforeach()

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
  set(src "${elsewhere}/src")
  set(home "${elsewhere}/home")
  file(MAKE_DIRECTORY "${src}")
  # The shell gets the folders as arguments: their names may hold quotes of its own.
  file(RELATIVE_PATH in_src "${SRC}" "${BUILD}")
  if(EXISTS "${SRC}/.git")
    set(list_sources "git -c safe.directory='*' -c core.quotePath=false ls-files -z --cached --others \
                      --exclude-standard && printf '.git\\0'")
  else()
    set(list_sources "find . -path \"./$2\" -prune -o -type f -print0")
  endif()
  execute_process(
    COMMAND sh -c "{ ${list_sources}; } | tar --null --ignore-failed-read -T - -cf - | tar -C \"$1\" -xf -"
            sh "${src}" "${in_src}"
    WORKING_DIRECTORY "${SRC}" RESULT_VARIABLE rc ERROR_VARIABLE err)
  if(NOT rc EQUAL 0)
    fail("copying ${SRC} failed: ${err}")
  endif()
  # The other user's home holds its temporary files: $TMPDIR may be a folder only this one can use.
  file(MAKE_DIRECTORY "${elsewhere}/user" "${home}/tmp")
  execute_process(COMMAND chown -R ${user}:${user} "${src}" "${elsewhere}/user" "${home}" RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    fail("cannot give ${src} to user ${user}")
  endif()
  set(as_user setpriv --reuid=${user} --regid=${user} --clear-groups env "HOME=${home}" "TMPDIR=${home}/tmp")
  execute_process(COMMAND ${as_user} test -w "${home}/tmp" RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    fail("user ${user} cannot reach ${home}: each folder above ${work} must let every user pass")
  endif()
endif()

string(REPLACE "${SRC}" "${src}" toolchain "${TOOLCHAIN}")

# Configures TREE from SRC and builds only the package, under the umask and zone given, as the
# command prefix AS says (nothing: as this user).
function(build_package tree umask zone)
  list(JOIN ARGN " " as)
  if(as STREQUAL "")
    set(as "as this user")
  endif()
  set(in_mask ${ARGN} env TZ=${zone} sh -c "umask ${umask} && exec \"$@\"" sh)
  execute_process(
    COMMAND ${in_mask} "${CMAKE_COMMAND}" -S "${src}" -B "${tree}" -G "${GENERATOR}"
            -DCMAKE_BUILD_TYPE=${BUILD_TYPE} -DCMAKE_TOOLCHAIN_FILE=${toolchain}
    OUTPUT_VARIABLE log ERROR_VARIABLE log RESULT_VARIABLE rc)
  if(rc EQUAL 0)
    cmake_host_system_information(RESULT jobs QUERY NUMBER_OF_LOGICAL_CORES)
    execute_process(
      COMMAND ${in_mask} "${CMAKE_COMMAND}" --build "${tree}" --target tavro_buildinfo tavro_symbols
              -j ${jobs}
      OUTPUT_VARIABLE log ERROR_VARIABLE log RESULT_VARIABLE rc)
  endif()
  if(NOT rc EQUAL 0)
    fail("the build in ${tree} (umask ${umask}, TZ=${zone}) failed:\n${log}")
  endif()
  if(log MATCHES "CMake Warning|warning:")
    fail("the build in ${tree} warned:\n${log}")
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
    fail("umask ${umask}, TZ=${zone}, ${as}, from ${src} in ${tree}:\n${failed}")
  endif()
  message(STATUS "same bytes: ${tree} (umask ${umask}, TZ=${zone}) ${as}")
endfunction()

# Zones nobody builds in, with part-hour offsets.
build_package("${elsewhere}/build" ${other_mask} XST+11:15)
if(uid STREQUAL "0")
  build_package("${elsewhere}/user" 0022 YST-13:45 ${as_user})
endif()
file(REMOVE_RECURSE "${work}")

execute_process(COMMAND sha256sum -c ${zip}.sha256 WORKING_DIRECTORY "${BUILD}"
                OUTPUT_VARIABLE out ERROR_VARIABLE out RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "sha256sum -c rejects ${BUILD}/${zip}.sha256:\n${out}")
endif()

file(SHA256 "${BUILD}/${zip}" sum)
file(SIZE "${BUILD}/${zip}" size)
file(READ "${BUILD}/${buildinfo}" info)
string(FIND "${info}" "\nChecksums-Sha256:\n ${sum} ${size} ${zip}\n" at)
if(at EQUAL -1)
  message(FATAL_ERROR "${BUILD}/${buildinfo} does not name ${zip} as it is, ${sum} ${size}:\n${info}")
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
