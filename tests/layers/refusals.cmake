# The layered build refuses every include that escapes a layer (cmake -P, run by CTest):
# -DSOURCE=<top of the tree> -DWORK=<scratch folder> -DGENERATOR=<CMake generator> -DCXX=<compiler>.
#
# A tiny project of three layers built with cmake/TessamireLayers.cmake (low; mid and side, each
# above low), built clean first; then one escape at a time is planted in a file, the build must
# fail naming it, and the file is put back. Everything lives in WORK, under the build folder, and
# is removed at the end: nothing is planted in the tree.
cmake_minimum_required(VERSION 3.20)

set(project ${WORK}/project)
set(build ${WORK}/build)
file(REMOVE_RECURSE ${WORK})

function(write path text)
  file(WRITE ${project}/${path} "${text}\n")
endfunction()

write(CMakeLists.txt "cmake_minimum_required(VERSION 3.20)
project(LayersProbe CXX)
include(${SOURCE}/cmake/TessamireLayers.cmake)
tessamire_layer(low FOLDER low)
tessamire_layer(mid FOLDER mid DEPENDS low)
tessamire_layer(side FOLDER side DEPENDS low)")
foreach(layer low mid side)
  write(${layer}/${layer}.h "#pragma once\nint ${layer}();")
endforeach()
set(low_cpp "#include \"low/low.h\"\nint low() { return 1; }")
set(mid_cpp "#include \"mid/mid.h\"\n#include \"low/low.h\"\nint mid() { return low() + 1; }")
set(mid_h "#pragma once\nint mid();")
write(low/low.cpp "${low_cpp}")
write(mid/mid.cpp "${mid_cpp}")
write(side/side.cpp "#include \"side/side.h\"\n#include \"low/low.h\"\nint side() { return low(); }")

function(build_probe result output)
  execute_process(COMMAND ${CMAKE_COMMAND} --build ${build} RESULT_VARIABLE code
                  OUTPUT_VARIABLE out ERROR_VARIABLE out)
  set(${result} ${code} PARENT_SCOPE)
  set(${output} "${out}" PARENT_SCOPE)
endfunction()

execute_process(COMMAND ${CMAKE_COMMAND} -S ${project} -B ${build} -G ${GENERATOR}
                        -DCMAKE_CXX_COMPILER=${CXX}
                RESULT_VARIABLE code OUTPUT_VARIABLE out ERROR_VARIABLE out)
if(NOT code EQUAL 0)
  message(FATAL_ERROR "the probe project does not configure:\n${out}")
endif()
build_probe(code out)
if(NOT code EQUAL 0)
  message(FATAL_ERROR "the clean probe project does not build:\n${out}")
endif()

# Plants `text` as `file`, expects the build to fail with output matching `expected`, and puts
# `original` back.
function(expect_refusal kind file text expected original)
  write(${file} "${text}")
  build_probe(code out)
  write(${file} "${original}")
  if(code EQUAL 0)
    message(FATAL_ERROR "${kind}: the build accepted ${file}:\n${text}")
  endif()
  if(NOT out MATCHES "${expected}")
    message(FATAL_ERROR "${kind}: the build failed, but not with '${expected}':\n${out}")
  endif()
  message(STATUS "${kind}: refused")
endfunction()

set(missing "(No such file|not found)")
expect_refusal(sideways mid/mid.cpp "#include \"side/side.h\"\nint mid() { return side(); }"
               "side/side\\.h.*${missing}" "${mid_cpp}")
expect_refusal(upward low/low.cpp "#include \"mid/mid.h\"\nint low() { return 1; }"
               "mid/mid\\.h.*${missing}" "${low_cpp}")
expect_refusal("sideways with ../" mid/mid.cpp
               "#include \"../side/side.h\"\nint mid() { return side(); }"
               "mid/mid\\.cpp:1: #include climbs with '\\.\\.'" "${mid_cpp}")
# Downwards, and in a header no unit of the build includes yet: refused all the same.
expect_refusal("downward with ../" mid/mid.h "#pragma once\n#include \"../low/low.h\"\nint mid();"
               "mid/mid\\.h:2: #include climbs with '\\.\\.'" "${mid_h}")
expect_refusal("beside the file" mid/mid.cpp "#include \"mid.h\"\nint mid() { return 2; }"
               "mid/mid\\.cpp:1: #include is relative to its own folder" "${mid_cpp}")

build_probe(code out)
if(NOT code EQUAL 0)
  message(FATAL_ERROR "the probe project does not build once put back:\n${out}")
endif()
file(REMOVE_RECURSE ${WORK})
