# Checks the Windows plug-in library: it exports exactly the entry symbols, and it imports from
# Windows' own libraries only (the C++ runtime, libgcc and the thread library are linked in).
# cmake -DOBJDUMP=<mingw objdump> -DLIBRARY=<tessamire.xdl64> -P pe_library_check.cmake
cmake_minimum_required(VERSION 3.20)
execute_process(COMMAND ${OBJDUMP} -p ${LIBRARY} OUTPUT_VARIABLE dump RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "${OBJDUMP} -p ${LIBRARY} failed")
endif()

# The name table: one line "<tab>[   i] name" per export.
string(REGEX MATCH "\\[Ordinal/Name Pointer\\] Table\n((\t\\[ *[0-9]+\\] [^\n]+\n)*)" table "${dump}")
string(REGEX REPLACE "\t\\[ *[0-9]+\\] ([^\n]+)\n" "\\1;" exports "${CMAKE_MATCH_1}")
list(REMOVE_ITEM exports "")
if(NOT exports STREQUAL "c4d_main;g_CpuYieldDelegate;g_privateBinary")
  message(FATAL_ERROR "${LIBRARY} exports \"${exports}\", not exactly the three entry symbols")
endif()

string(REGEX MATCHALL "DLL Name: [^\n]+" imports "${dump}")
string(REPLACE "DLL Name: " "" imports "${imports}")
foreach(dll IN LISTS imports)
  string(TOLOWER "${dll}" dll)
  if(NOT dll MATCHES "^(kernel32|msvcrt|user32|advapi32|shell32|ntdll|ws2_32|ole32)\\.dll$")
    message(FATAL_ERROR "${LIBRARY} imports ${dll}, which is not a Windows library")
  endif()
endforeach()
message(STATUS "exports: ${exports}; imports: ${imports}")
