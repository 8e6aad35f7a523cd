# The plug-in's three registration ids are written as numbers in one file, host/abi/ids.h; every
# other file of the product (host/, source/, headless/, cli/, python/), of the page (web/), the
# benchmarks (bench/) and the fuzz targets (fuzz/) uses their names. (The tests and the
# description resources in res/ are outside these folders.) What is not source is left out:
# hidden folders, node_modules/, __pycache__/, the fuzzers' seed corpora (corpus/: data the
# program wrote, where an id is a binary field) and minified bundles (*.min.js).
#
#   cmake -DROOT=<source tree> -P check_id_literals.cmake
#
# Fails naming every file and line that writes one of the ids as a number. The ids are read from
# ids.h itself, so the check follows them wherever they are defined.
if(NOT ROOT)
  message(FATAL_ERROR "usage: cmake -DROOT=<source tree> -P check_id_literals.cmake")
endif()

set(home ${ROOT}/host/abi/ids.h)
if(NOT EXISTS ${home})
  message(FATAL_ERROR "${home}: missing; it defines the registration ids")
endif()
set(definition "^inline constexpr Int32 (ID_[A-Z0-9_]+) = ([0-9]+);")
file(STRINGS ${home} lines REGEX "${definition}")
set(ids "")
foreach(line IN LISTS lines)
  string(REGEX MATCH "${definition}" ignored "${line}")
  list(APPEND ids ${CMAKE_MATCH_2})
endforeach()
list(LENGTH ids count)
if(NOT count EQUAL 3)
  message(FATAL_ERROR "${home}: expected the three registration ids (ID_... = number), found ${count}")
endif()

set(files "")
foreach(folder host source headless cli python web bench fuzz)
  file(GLOB_RECURSE found LIST_DIRECTORIES false ${ROOT}/${folder}/*)
  list(APPEND files ${found})
endforeach()
list(REMOVE_ITEM files ${home})

set(faults "")
foreach(file IN LISTS files)
  file(RELATIVE_PATH name ${ROOT} ${file})
  if(name MATCHES "(^|/)(\\.[^/]*|node_modules|__pycache__|corpus)/" OR name MATCHES "\\.min\\.js$")
    continue()
  endif()
  foreach(id IN LISTS ids)
    # The id as a whole number: not a part of a longer one.
    file(STRINGS ${file} hits REGEX "(^|[^0-9])${id}([^0-9]|$)")
    foreach(hit IN LISTS hits)
      string(STRIP "${hit}" hit)
      string(APPEND faults "  ${name}: ${hit}\n")
    endforeach()
  endforeach()
endforeach()
if(faults)
  message(FATAL_ERROR "registration ids written as numbers outside host/abi/ids.h (use their "
                      "names):\n${faults}")
endif()
message(STATUS "registration ids ${ids}: written only in host/abi/ids.h")
