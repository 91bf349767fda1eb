# Writes where g_file_set lies in tavro.exe's image (offset from the image base) as a C header.
# The shipped exe has no symbols; the linker map of the same link has the address.
file(READ "${MAP}" map)
string(REGEX MATCH "\n +0x([0-9a-fA-F]+) +g_file_set\n" found "${map}")
if(NOT found)
  message(FATAL_ERROR "g_file_set not found in ${MAP}")
endif()
set(addr ${CMAKE_MATCH_1})
execute_process(COMMAND ${OBJDUMP} -p ${EXE} OUTPUT_VARIABLE headers)
string(REGEX MATCH "ImageBase[ \t]+([0-9a-fA-F]+)" found "${headers}")
math(EXPR rva "0x${addr} - 0x${CMAKE_MATCH_1}" OUTPUT_FORMAT HEXADECIMAL)
file(WRITE ${OUT} "// Generated from tavro.exe's linker map.\n#define TAVRO_G_FILE_SET_RVA ${rva}\n")
