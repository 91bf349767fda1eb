# Writes OUT with the time, in seconds since 1970, that tavro.exe and the archive record:
# SOURCE_DATE_EPOCH when it is set and not empty, else the time of the source tree's last commit,
# else (a tree outside any checkout) a fixed one, so that every build of one commit gives the same
# bytes. A checkout whose time cannot be read stops the build: a fallback would give an archive
# that matches neither this commit's nor anything published. Runs on every build, so a new commit
# counts without configuring again; OUT is rewritten only when the value changes, so only then are
# tavro.exe relinked and the archive remade.
# cmake -DGIT=<git, or nothing> -DSRC=<source tree> -DOUT=<file> -P source_date.cmake

# 1980-01-01 00:00 UTC, the earliest time a zip entry can hold.
set(epoch 315532800)
if(NOT "$ENV{SOURCE_DATE_EPOCH}" STREQUAL "")
  set(epoch "$ENV{SOURCE_DATE_EPOCH}")
  if(NOT epoch MATCHES "^[0-9]+$")
    message(FATAL_ERROR "SOURCE_DATE_EPOCH should be whole seconds since 1970, is '${epoch}'")
  endif()
# The tree's own history only: a source tree unpacked inside another checkout gets the fixed time.
elseif(EXISTS "${SRC}/.git")
  if(NOT GIT)
    message(FATAL_ERROR "${SRC} is a git checkout, but git was not found to read its last commit's "
                        "time: install git (tools/setup.sh does), or set SOURCE_DATE_EPOCH")
  endif()
  # A checkout that another user owns (a bind mount, a copy made by root) is read all the same:
  # git refuses it by default, but building the tree runs its own scripts anyway, so reading its
  # history trusts nothing more.
  # Nor does git look above the tree: a broken .git must not yield some enclosing checkout's time.
  get_filename_component(above "${SRC}" DIRECTORY)
  set(ENV{GIT_CEILING_DIRECTORIES} "${above}")
  execute_process(COMMAND "${GIT}" -c safe.directory=* -C "${SRC}" log -1 --no-show-signature
                          --format=%ct
                  OUTPUT_VARIABLE time ERROR_VARIABLE err RESULT_VARIABLE rc
                  OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_STRIP_TRAILING_WHITESPACE)
  if(NOT rc EQUAL 0 OR NOT time MATCHES "^[0-9]+$")
    message(FATAL_ERROR "${SRC}: cannot read the time of the last commit (git: ${err}); mend the "
                        "checkout, or set SOURCE_DATE_EPOCH to the time to record")
  endif()
  set(epoch "${time}")
endif()

set(old "")
if(EXISTS "${OUT}")
  file(READ "${OUT}" old)
endif()
if(NOT old STREQUAL "${epoch}\n")
  file(WRITE "${OUT}" "${epoch}\n")
endif()
