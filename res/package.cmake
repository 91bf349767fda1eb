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
set(covered
  # tavro's own code
  objects.a libtavro_shell.a libtavro_digest.a
  # mingw-w64: start-up code, C runtime helpers, import stubs of the system DLLs
  crt2.o libmingw32.a libmingwex.a libmsvcrt.a libkernel32.a libuser32.a libgdi32.a libcomctl32.a
  libcomdlg32.a libshell32.a libshlwapi.a libadvapi32.a
  # GCC's runtime libraries
  crtbegin.o crtend.o libgcc.a libssp.a libssp_nonshared.a)
file(READ "${MAP}" map)
string(FIND "${map}" "\nDiscarded input sections" members_end)
string(SUBSTRING "${map}" 0 ${members_end} members)
string(REGEX MATCHALL "\n[^ \n(]*\\.a\\(" taken "${members}")
string(REGEX MATCHALL "LOAD [^\n]*\\.o\n" loaded "${map}")
set(uncovered "")
foreach(part IN LISTS taken loaded)
  string(REGEX REPLACE "^\n|^LOAD |[(\n]+$" "" part "${part}")
  get_filename_component(part "${part}" NAME)
  if(NOT part IN_LIST covered)
    list(APPEND uncovered "${part}")
  endif()
endforeach()
if(NOT taken OR uncovered)
  list(REMOVE_DUPLICATES uncovered)
  message(FATAL_ERROR "${MAP}: tavro.exe links parts that LICENSE.txt does not cover: ${uncovered}")
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
