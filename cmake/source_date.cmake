# Writes OUT with the time, in seconds since 1970, that tavro.exe and the archive record:
# SOURCE_DATE_EPOCH when it is set, else the time of the source tree's last commit, else a fixed
# one, so that every build of one commit gives the same bytes. Runs on every build, so a new commit
# counts without configuring again; OUT is rewritten only when the value changes, so only then are
# tavro.exe relinked and the archive remade.
# cmake -DGIT=<git, or nothing> -DSRC=<source tree> -DOUT=<file> -P source_date.cmake

# 1980-01-01 00:00 UTC, the earliest time a zip entry can hold.
set(epoch 315532800)
if(DEFINED ENV{SOURCE_DATE_EPOCH})
  set(epoch "$ENV{SOURCE_DATE_EPOCH}")
  if(NOT epoch MATCHES "^[0-9]+$")
    message(FATAL_ERROR "SOURCE_DATE_EPOCH should be whole seconds since 1970, is '${epoch}'")
  endif()
# The tree's own history only: a source tree unpacked inside another checkout gets the fixed time.
elseif(EXISTS "${SRC}/.git")
  set(rc 1)
  set(err "no git found")
  if(GIT)
    execute_process(COMMAND "${GIT}" -C "${SRC}" log -1 --format=%ct OUTPUT_VARIABLE time
                    ERROR_VARIABLE err RESULT_VARIABLE rc OUTPUT_STRIP_TRAILING_WHITESPACE
                    ERROR_STRIP_TRAILING_WHITESPACE)
  endif()
  if(rc EQUAL 0 AND time MATCHES "^[0-9]+$")
    set(epoch "${time}")
  else()
    # Say so: the archive would then match neither this commit's nor anything published.
    message(WARNING "${SRC}: no time of the last commit (${err}); using ${epoch}")
  endif()
endif()

set(old "")
if(EXISTS "${OUT}")
  file(READ "${OUT}" old)
endif()
if(NOT old STREQUAL "${epoch}\n")
  file(WRITE "${OUT}" "${epoch}\n")
endif()
