# A build tree holds objects of the compiler that made them, and nothing in it depends on the
# compiler, the linker or the runtime libraries: after an upgrade of mingw-w64 or binutils it would
# link old objects with new parts into an exe that no clean build gives. So the tree remembers which
# files made it (path, size, time) and refuses, in one line, to go on with others.

set(toolchain_files ${CMAKE_CXX_COMPILER} ${CMAKE_C_COMPILER} ${CMAKE_RC_COMPILER} ${CMAKE_LINKER}
                    ${CMAKE_AR})
foreach(query -print-prog-name=cc1plus -print-prog-name=cc1 -print-prog-name=as
              -print-libgcc-file-name -print-file-name=crt2.o -print-file-name=libmingwex.a
              -print-file-name=libssp.a)
  execute_process(COMMAND ${CMAKE_CXX_COMPILER} ${query} OUTPUT_VARIABLE found
                  OUTPUT_STRIP_TRAILING_WHITESPACE)
  list(APPEND toolchain_files ${found})
endforeach()

set(toolchain_now "")
# The same files by their real paths, for the buildinfo to name the packages they come from.
set(toolchain_real_files "")
foreach(file IN LISTS toolchain_files)
  if(NOT IS_ABSOLUTE "${file}")
    find_program(file_path "${file}" NO_CACHE)
    set(file "${file_path}")
  endif()
  file(REAL_PATH "${file}" real)
  if(EXISTS "${real}")
    file(SIZE "${real}" size)
    file(TIMESTAMP "${real}" time "%s" UTC)
    string(APPEND toolchain_now "${real} ${size} ${time}\n")
    list(APPEND toolchain_real_files "${real}")
    # A change to any of them makes the next build configure again, and so stop here.
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${real}")
  else()
    string(APPEND toolchain_now "${file} missing\n")
  endif()
endforeach()

set(toolchain_stamp "${CMAKE_BINARY_DIR}/toolchain.txt")
if(EXISTS "${toolchain_stamp}")
  file(READ "${toolchain_stamp}" toolchain_then)
  if(NOT toolchain_then STREQUAL toolchain_now)
    message(FATAL_ERROR "The compiler or linker changed since ${CMAKE_BINARY_DIR} was built: "
                        "remove that folder and build again.")
  endif()
else()
  file(WRITE "${toolchain_stamp}" "${toolchain_now}")
endif()
