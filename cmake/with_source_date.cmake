# Runs the command after "--" with SOURCE_DATE_EPOCH set to the time in FILE (source_date.cmake
# writes it): the linker takes the PE time stamp from it, and res/package.cmake hands it to
# res/make_zip.py for the zip entries' times.
# cmake -DFILE=<file> -P with_source_date.cmake -- <command> [<argument>...]

file(READ "${FILE}" epoch)
string(STRIP "${epoch}" epoch)
set(ENV{SOURCE_DATE_EPOCH} "${epoch}")

set(command "")
set(after_dashes FALSE)
math(EXPR last "${CMAKE_ARGC} - 1")
foreach(i RANGE ${last})
  if(after_dashes)
    list(APPEND command "${CMAKE_ARGV${i}}")
  elseif(CMAKE_ARGV${i} STREQUAL "--")
    set(after_dashes TRUE)
  endif()
endforeach()
if(NOT command)
  message(FATAL_ERROR "usage: cmake -DFILE=<file> -P with_source_date.cmake -- <command>...")
endif()

execute_process(COMMAND ${command} RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  list(GET command 0 program)
  message(FATAL_ERROR "${program}: ${rc}")
endif()
