# Writes OUT with the commit that the source tree SRC stands at and whether its tracked files have
# changes not committed, as lines of the buildinfo; or that SRC is no git checkout, or that git
# cannot tell. Files that git does not track are not counted: a build tree in the checkout is one,
# and the build reads none that a tracked file does not name. Runs on every build; OUT is rewritten
# only when it changes, so only then is the buildinfo made again.
# cmake -DGIT=<git, or nothing> -DSRC=<source tree> -DOUT=<file> -P source_commit.cmake

if(NOT EXISTS "${SRC}/.git")
  set(lines "Source-Commit: none (not a git checkout)\n")
elseif(NOT GIT)
  set(lines "Source-Commit: unknown (git was not found)\n")
else()
  # As cmake/source_date.cmake reads the tree's history: whoever owns it, and never a checkout
  # above it. Nor does git status write the index it refreshes: a build only reads the checkout
  # (and a copy of a linked worktree shares the original's index).
  get_filename_component(above "${SRC}" DIRECTORY)
  set(ENV{GIT_CEILING_DIRECTORIES} "${above}")
  set(git "${GIT}" --no-optional-locks -c safe.directory=* -C "${SRC}")
  execute_process(COMMAND ${git} rev-parse --verify HEAD OUTPUT_VARIABLE commit RESULT_VARIABLE rc
                  OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
  execute_process(COMMAND ${git} status --porcelain --untracked-files=no OUTPUT_VARIABLE changes
                  RESULT_VARIABLE status_rc ERROR_QUIET)
  if(NOT rc EQUAL 0 OR NOT status_rc EQUAL 0 OR NOT commit MATCHES "^[0-9a-f]+$")
    set(lines "Source-Commit: unknown (git cannot read the checkout)\n")
  elseif(changes STREQUAL "")
    set(lines "Source-Commit: ${commit}\nSource-Changes: none\n")
  else()
    set(lines "Source-Commit: ${commit}\nSource-Changes: uncommitted changes to tracked files\n")
  endif()
endif()

set(old "")
if(EXISTS "${OUT}")
  file(READ "${OUT}" old)
endif()
if(NOT old STREQUAL lines)
  file(WRITE "${OUT}" "${lines}")
endif()
