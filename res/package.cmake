# What a user gets: _README.txt and LICENSE.txt beside tavro.exe, an archive of exactly those three
# files and the archive's SHA-256 in <archive>.sha256.
# cmake -DFILE=<time> -P cmake/with_source_date.cmake -- cmake -DICONV=<iconv> -DPYTHON=<python3>
#       -DREADME=<UTF-8 source> -DLICENSE=<LICENSE> -DNOTICES=<notices.txt> -DEXE=<tavro.exe>
#       -DMAP=<tavro.exe's linker map> -DZIP=<archive> -DTAVRO_VERSION=<1.0>
#       -DTAVRO_DEBIAN=<"Debian 12"> -DTAVRO_MINGW_MAJOR=<10> -DTAVRO_GCC_MAJOR=<12> -P package.cmake
#
# The readme names the version as @TAVRO_VERSION@, which becomes project()'s; its history, written
# by hand, must begin with that version. It is written in code page 932 with CRLF line ends, which
# Notepad on any Japanese Windows reads. A character that code page 932 lacks, or maps to another
# one on the way back (U+301C WAVE DASH becomes U+FF5E, for one), stops the build rather than
# reaching the user changed.

cmake_policy(SET CMP0057 NEW) # if(IN_LIST)
get_filename_component(dir "${EXE}" DIRECTORY)
set(out "${dir}/_README.txt")

# file(READ) gives CRLF line ends as LF, so the source may have either.
file(READ "${README}" text)
string(CONFIGURE "${text}" text @ONLY)
if(NOT text MATCHES "\n■ 更新履歴\r?\n\r?\n([^ \r\n]*)")
  message(FATAL_ERROR "${README}: no history (■ 更新履歴) followed by a blank line and its entries")
elseif(NOT CMAKE_MATCH_1 STREQUAL TAVRO_VERSION)
  message(FATAL_ERROR "${README}: the history's first entry is version ${CMAKE_MATCH_1}, but "
                      "project() in CMakeLists.txt says ${TAVRO_VERSION}: write its entry first")
endif()
string(REPLACE "\n" "\r\n" text "${text}")
file(WRITE "${out}.utf8" "${text}")
execute_process(COMMAND "${ICONV}" -f UTF-8 -t CP932 INPUT_FILE "${out}.utf8" OUTPUT_FILE "${out}.tmp"
                RESULT_VARIABLE rc ERROR_VARIABLE err)
if(NOT rc EQUAL 0)
  file(REMOVE "${out}.utf8" "${out}.tmp")
  message(FATAL_ERROR "${README}: not all of it has a code page 932 form (iconv: ${err})")
endif()
# Compared as files: file(READ) would drop the CRs.
execute_process(COMMAND "${ICONV}" -f CP932 -t UTF-8 INPUT_FILE "${out}.tmp" OUTPUT_FILE "${out}.back"
                RESULT_VARIABLE rc)
execute_process(COMMAND "${CMAKE_COMMAND}" -E compare_files "${out}.utf8" "${out}.back" RESULT_VARIABLE differ)
file(REMOVE "${out}.utf8" "${out}.back")
if(NOT rc EQUAL 0 OR NOT differ EQUAL 0)
  file(REMOVE "${out}.tmp")
  message(FATAL_ERROR "${README}: a character comes back from code page 932 as another one")
endif()
file(RENAME "${out}.tmp" "${out}")

# The parts of the compiler's runtime that the link took, as its map records them: archive members
# and whole object files. LICENSE.txt names each with its licence (res/notices.txt); a part not
# listed here stops the build until its terms are read and its notice, if it asks for one, added.
set(own objects.a libtavro_shell.a libtavro_digest.a)
# mingw-w64: start-up code, C runtime helpers, import stubs of the system DLLs
set(mingw_parts crt2.o libmingw32.a libmingwex.a libmsvcrt.a libkernel32.a libuser32.a libgdi32.a
                libcomctl32.a libcomdlg32.a libshell32.a libshlwapi.a libadvapi32.a)
# GCC's runtime libraries
set(gcc_parts crtbegin.o crtend.o libgcc.a libssp.a libssp_nonshared.a)
file(READ "${MAP}" map)
string(FIND "${map}" "\nDiscarded input sections" members_end)
string(SUBSTRING "${map}" 0 ${members_end} members)
string(REGEX MATCHALL "\n[^ \n(]*\\.a\\(" taken "${members}")
string(REGEX MATCHALL "LOAD [^\n]*\\.o\n" loaded "${map}")
# The map names them as the linker found them, relative to the folder it ran in (the map's).
get_filename_component(map_dir "${MAP}" DIRECTORY)
set(uncovered "")
set(mingw_files "")
set(gcc_files "")
foreach(part IN LISTS taken loaded)
  string(REGEX REPLACE "^\n|^LOAD |[(\n]+$" "" part "${part}")
  get_filename_component(name "${part}" NAME)
  file(REAL_PATH "${part}" file BASE_DIRECTORY "${map_dir}")
  if(name IN_LIST mingw_parts)
    list(APPEND mingw_files "${file}")
  elseif(name IN_LIST gcc_parts)
    list(APPEND gcc_files "${file}")
  elseif(NOT name IN_LIST own)
    list(APPEND uncovered "${name}")
  endif()
endforeach()
if(NOT taken OR uncovered)
  list(REMOVE_DUPLICATES uncovered)
  message(FATAL_ERROR "${MAP}: tavro.exe links parts that LICENSE.txt does not cover: ${uncovered}")
endif()

# The Debian packages that hold the files the link took of each runtime, in words for the notices:
# what dpkg says of this toolchain, as files move between packages from one release to the next.
include("${CMAKE_CURRENT_LIST_DIR}/../cmake/dpkg_holders.cmake")
find_program(DPKG_QUERY dpkg-query)
# "a", "a and b", "a, b and c".
function(words_of out)
  set(items "${ARGN}")
  list(LENGTH items count)
  if(count GREATER 1)
    list(POP_BACK items last)
    list(JOIN items ", " items)
    string(APPEND items " and ${last}")
  endif()
  set(${out} "${items}" PARENT_SCOPE)
endfunction()
function(packages_of out)
  set(files "${ARGN}")
  list(REMOVE_DUPLICATES files)
  tavro_dpkg_holders(holders "${DPKG_QUERY}" ${files})
  list(SORT holders)
  list(LENGTH holders count)
  words_of(text ${holders})
  if(count EQUAL 1)
    set(text "Debian package ${text}")
  elseif(count GREATER 1)
    set(text "Debian packages ${text}")
  endif()
  set(names "")
  foreach(file IN LISTS holders_UNHELD)
    get_filename_component(name "${file}" NAME)
    list(APPEND names "${name}")
  endforeach()
  if(NOT names STREQUAL "")
    words_of(names ${names})
    if(count GREATER 0)
      string(APPEND text "; ")
    endif()
    string(APPEND text "${names} from no Debian package")
  endif()
  set(${out} "${text}" PARENT_SCOPE)
endfunction()
if(DPKG_QUERY)
  packages_of(TAVRO_MINGW_PACKAGES ${mingw_files})
  packages_of(TAVRO_GCC_PACKAGES ${gcc_files})
else()
  # Not Debian: no release's packages to name, whatever os-release's number says.
  set(TAVRO_DEBIAN "the system that built it")
  set(TAVRO_MINGW_PACKAGES "packages unknown: built without dpkg")
  set(TAVRO_GCC_PACKAGES "${TAVRO_MINGW_PACKAGES}")
endif()

# tavro's licence, then the notices of what the link took, with CRLF line ends for Notepad. The
# notices name the release and runtime versions of the toolchain that made this link.
file(READ "${LICENSE}" licence)
file(READ "${NOTICES}" notices)
string(CONFIGURE "${notices}" notices @ONLY)
string(REPLACE "\n" "\r\n" text "${licence}${notices}")
file(WRITE "${dir}/LICENSE.txt" "${text}")

# The same bytes from every build of one commit, whoever builds it: make_zip.py takes the names,
# modes and time given and nothing from the disk or the builder.
if(NOT "$ENV{SOURCE_DATE_EPOCH}" MATCHES "^[0-9]+$")
  message(FATAL_ERROR "run under SOURCE_DATE_EPOCH (cmake/with_source_date.cmake)")
endif()
get_filename_component(here "${CMAKE_CURRENT_LIST_FILE}" DIRECTORY)
file(REMOVE "${ZIP}" "${ZIP}.sha256")
# Bare names, so that unpacking puts the three files in one folder; in this order.
execute_process(COMMAND "${PYTHON}" "${here}/make_zip.py" "${ZIP}" "$ENV{SOURCE_DATE_EPOCH}"
                        "${dir}/tavro.exe:755" "${dir}/_README.txt" "${dir}/LICENSE.txt"
                RESULT_VARIABLE rc)
# Read back by its bare name from its folder: under the C locale, Debian 13's cmake lists nothing,
# with exit status 0, for a path with non-ASCII characters.
get_filename_component(zip_dir "${ZIP}" DIRECTORY)
get_filename_component(zip_name "${ZIP}" NAME)
execute_process(COMMAND "${CMAKE_COMMAND}" -E tar tf "${zip_name}" WORKING_DIRECTORY "${zip_dir}"
                OUTPUT_VARIABLE entries)
if(NOT rc EQUAL 0 OR NOT entries STREQUAL "tavro.exe\n_README.txt\nLICENSE.txt\n")
  message(FATAL_ERROR "${ZIP}: should hold tavro.exe, _README.txt and LICENSE.txt only, holds:\n${entries}")
endif()

# The archive's SHA-256 in sha256sum's format, beside it, so that sha256sum -c checks it.
file(SHA256 "${ZIP}" sum)
get_filename_component(name "${ZIP}" NAME)
file(WRITE "${ZIP}.sha256" "${sum}  ${name}\n")
