# Checks the #include lines of one layer's folder and its subfolders (cmake -P, run by the build
# before the layer compiles): -DROOT=<top of the tree> -DFOLDER=<the layer's folder, from the top>
# -DSTAMP=<file touched when every include holds>.
#
# The include roots refuse a sideways or upward include written from the top of the tree, but the
# compiler looks for a quoted include beside the including file first, and follows `..` through
# the roots' links, so two holes are closed here:
# - a path with a `..` part (it climbs past the layer's root), in quotes or angle brackets, or an
#   absolute path;
# - a quoted path that names a file relative to the including file's own folder (it is not
#   written from the top of the tree, so the include roots do not govern it).
# Each offending line is reported as file:line; the build stops.
cmake_minimum_required(VERSION 3.20)

file(GLOB_RECURSE files ${ROOT}/${FOLDER}/*.h ${ROOT}/${FOLDER}/*.cpp)

set(faults "")
foreach(file IN LISTS files)
  file(STRINGS ${file} lines REGEX "^[ \t]*#[ \t]*include")
  file(READ ${file} content)
  get_filename_component(here ${file} DIRECTORY)
  file(RELATIVE_PATH shown ${ROOT} ${file})
  foreach(line IN LISTS lines)
    if(NOT line MATCHES "^[ \t]*#[ \t]*include[ \t]*([\"<])([^\">]*)[\">]")
      continue()
    endif()
    set(quote ${CMAKE_MATCH_1})
    set(path ${CMAKE_MATCH_2})
    string(FIND "${content}" "${line}" at)
    string(SUBSTRING "${content}" 0 ${at} before)
    string(REGEX MATCHALL "\n" breaks "${before}")
    list(LENGTH breaks number)
    math(EXPR number "${number} + 1")
    if(path MATCHES "(^|/)\\.\\.(/|$)")
      string(APPEND faults "${shown}:${number}: #include climbs with '..': ${path}\n")
    elseif(path MATCHES "^(/|[A-Za-z]:)")
      string(APPEND faults "${shown}:${number}: #include names an absolute path: ${path}\n")
    elseif(quote STREQUAL "\"" AND EXISTS ${here}/${path})
      string(APPEND faults
             "${shown}:${number}: #include is relative to its own folder, not written from the "
             "top of the tree: ${path}\n")
    endif()
  endforeach()
endforeach()

if(faults)
  message(FATAL_ERROR "Includes that escape the layer ${FOLDER}:\n${faults}")
endif()
file(TOUCH ${STAMP})
