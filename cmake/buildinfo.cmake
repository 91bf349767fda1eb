# Writes OUT, the archive's buildinfo: Key: value lines, as in Debian's .buildinfo, naming what made
# the archive's bytes: the source commit, the time recorded, the archive's SHA-256, the Debian
# release and the exact installed versions of the packages of the toolchain and tools. Nothing of
# the builder, the folder or the moment: the same tree and packages give the same file.
# cmake -DZIP=<archive> -DVERSION=<1.0> -DCOMMIT=<source_commit.cmake's file>
#       -DEPOCH=<source_date.cmake's file> -DPYTHON=<python3> -DTOOLS=<tool;...> -DOUT=<file>
#       -P buildinfo.cmake
# TOOLS are the programs and files of the toolchain that the build ran or linked; the packages
# that hold them are named besides the ones below.

include("${CMAKE_CURRENT_LIST_DIR}/dpkg_holders.cmake")

file(READ "${COMMIT}" commit_lines)
file(READ "${EPOCH}" epoch)
string(STRIP "${epoch}" epoch)
file(SHA256 "${ZIP}" sum)
file(SIZE "${ZIP}" size)
get_filename_component(zip_name "${ZIP}" NAME)

# The release: os-release's name for it, and Debian's point release.
set(distribution unknown)
if(EXISTS /etc/os-release)
  file(STRINGS /etc/os-release pretty REGEX "^PRETTY_NAME=")
  if(pretty MATCHES "^PRETTY_NAME=\"?([^\"]*)\"?$")
    set(distribution "${CMAKE_MATCH_1}")
  endif()
endif()
set(release_line "")
if(EXISTS /etc/debian_version)
  file(STRINGS /etc/debian_version point LIMIT_COUNT 1)
  set(release_line "Build-Distribution-Release: ${point}\n")
endif()

# What shaped the bytes besides the programs in TOOLS: the compilers' runtime libraries and
# mingw-w64's start-up code, import libraries and headers; CMake, which writes the manual and the
# licence; Python, its zip writer and zlib, which make the archive; iconv and the C library's code
# page 932 tables, which convert the manual.
execute_process(COMMAND "${PYTHON}" -c "import sys; print('%d.%d' % sys.version_info[:2])"
                OUTPUT_VARIABLE python_version OUTPUT_STRIP_TRAILING_WHITESPACE)
set(packages
  g++-mingw-w64-i686-posix gcc-mingw-w64-i686-posix binutils-mingw-w64-i686 mingw-w64-i686-dev
  mingw-w64-common cmake python3 python${python_version}-minimal libpython${python_version}-minimal
  libpython${python_version}-stdlib zlib1g libc-bin libc6)

find_program(DPKG_QUERY dpkg-query)
find_program(DPKG dpkg)
set(unpackaged "")
set(arch unknown)
if(DPKG_QUERY AND DPKG)
  execute_process(COMMAND "${DPKG}" --print-architecture OUTPUT_VARIABLE arch
                  OUTPUT_STRIP_TRAILING_WHITESPACE)
  # The package of each tool; a tool that no package holds is named (by its file name) instead.
  tavro_dpkg_holders(holders "${DPKG_QUERY}" ${TOOLS})
  list(APPEND packages ${holders})
  foreach(tool IN LISTS holders_UNHELD)
    get_filename_component(name "${tool}" NAME)
    list(APPEND unpackaged "${name}")
  endforeach()
  list(REMOVE_DUPLICATES packages)
  list(SORT packages)

  # Installed versions, of this machine's architecture or of none (Architecture: all): Wine
  # brings i386 copies of some of these, which the build does not use.
  execute_process(COMMAND "${DPKG_QUERY}" -W "-f=\${db:Status-Abbrev}|\${Package}|\${Architecture}|\${Version}\\n"
                          ${packages}
                  OUTPUT_VARIABLE installed ERROR_QUIET)
  string(REPLACE "\n" ";" installed "${installed}")
  set(depends "")
  foreach(package IN LISTS packages)
    set(entry "${package} (not installed)")
    foreach(line IN LISTS installed)
      string(REPLACE "|" ";" fields "${line}")
      list(LENGTH fields count)
      if(NOT count EQUAL 4)
        continue()
      endif()
      list(GET fields 0 status)
      list(GET fields 1 name)
      list(GET fields 2 package_arch)
      list(GET fields 3 version)
      if(status STREQUAL "ii " AND name STREQUAL package AND package_arch MATCHES "^(${arch}|all)$")
        set(entry "${package}:${package_arch} (= ${version})")
      endif()
    endforeach()
    list(APPEND depends " ${entry}")
  endforeach()
  list(JOIN depends ",\n" depends)
else()
  set(depends " unknown (no dpkg: not a Debian system)")
endif()

set(text "Format: 1.0
Source: tavro
Version: ${VERSION}
${commit_lines}Source-Date-Epoch: ${epoch}
Checksums-Sha256:
 ${sum} ${size} ${zip_name}
Build-Distribution: ${distribution}
${release_line}Build-Architecture: ${arch}
Installed-Build-Depends:
${depends}
")
if(unpackaged)
  list(REMOVE_DUPLICATES unpackaged)
  list(JOIN unpackaged ", " unpackaged)
  string(APPEND text "Tools-Not-From-Packages: ${unpackaged}\n")
endif()
file(WRITE "${OUT}.tmp" "${text}")
file(RENAME "${OUT}.tmp" "${OUT}")
