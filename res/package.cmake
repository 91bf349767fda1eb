# What a user gets: _README.txt beside tavro.exe, an archive of exactly those two files and the
# archive's SHA-256 in <archive>.sha256.
# cmake -DFILE=<time> -P cmake/with_source_date.cmake -- cmake -DICONV=<iconv>
#       -DREADME=<UTF-8 source> -DEXE=<tavro.exe> -DZIP=<archive> -P package.cmake
#
# The readme is written in code page 932 with CRLF line ends, which Notepad on any Japanese Windows
# reads. A character that code page 932 lacks, or maps to another one on the way back (U+301C WAVE
# DASH becomes U+FF5E, for one), stops the build rather than reaching the user changed.

get_filename_component(dir "${EXE}" DIRECTORY)
set(out "${dir}/_README.txt")

# file(READ) gives CRLF line ends as LF, so the source may have either.
file(READ "${README}" text)
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

# The same bytes from every build of one commit. The entries' modes come from the files, so they
# are set here rather than left to the umask. cmake -E tar gives every entry the time in
# SOURCE_DATE_EPOCH (this runs under it): modified, accessed and created alike; --mtime would set
# the first only. A zip entry's DOS time is local time, hence one fixed zone.
if(NOT "$ENV{SOURCE_DATE_EPOCH}" MATCHES "^[0-9]+$")
  message(FATAL_ERROR "run under SOURCE_DATE_EPOCH (cmake/with_source_date.cmake)")
endif()
file(CHMOD "${dir}/tavro.exe" PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE
                                          GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
file(CHMOD "${dir}/_README.txt" PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
set(ENV{TZ} UTC0)

# Bare names, so that unpacking puts both files in one folder; in this order.
file(REMOVE "${ZIP}" "${ZIP}.sha256")
execute_process(COMMAND "${CMAKE_COMMAND}" -E tar cf "${ZIP}" --format=zip tavro.exe _README.txt
                WORKING_DIRECTORY "${dir}" RESULT_VARIABLE rc)
execute_process(COMMAND "${CMAKE_COMMAND}" -E tar tf "${ZIP}" OUTPUT_VARIABLE entries)
if(NOT rc EQUAL 0 OR NOT entries STREQUAL "tavro.exe\n_README.txt\n")
  message(FATAL_ERROR "${ZIP}: should hold tavro.exe and _README.txt only, holds:\n${entries}")
endif()

# The archive's SHA-256 in sha256sum's format, beside it, so that sha256sum -c checks it.
file(SHA256 "${ZIP}" sum)
get_filename_component(name "${ZIP}" NAME)
file(WRITE "${ZIP}.sha256" "${sum}  ${name}\n")
