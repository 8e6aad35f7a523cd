# Helpers for the layered build: every layer is a library whose include root holds only its own
# folder, so a unit reaches another layer's headers only through a library it links, and an
# #include that reaches sideways or upwards fails to compile. What the roots cannot govern (a
# `..` in an include, a path relative to the including file) is refused before the layer
# compiles, by TessamireIncludes.cmake.

# Our own code: strict warnings, and no fused multiply-add, so that every formula rounds exactly
# as written whatever the compiler or CPU.
set(TESSAMIRE_WARNINGS -Wall -Wextra -Werror)
# gcc 12 at -O3 (the Release type) reports overlaps that cannot happen (-Wrestrict) inside the
# inlined std::string operator+ and assignment where a literal meets a string (gcc bugs 105329
# and 105651, mended in gcc 13); which lines trip it follows the inliner, not the code (14 places,
# among them idiomatic `"x" + std::to_string(n)`). Overlapping copies that do happen are caught at
# run time by AddressSanitizer (the address preset).
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CMAKE_CXX_COMPILER_VERSION VERSION_LESS 13)
  list(APPEND TESSAMIRE_WARNINGS -Wno-restrict)
endif()
set(TESSAMIRE_FP -ffp-contract=off)

set(TESSAMIRE_INCLUDE_CHECK ${CMAKE_CURRENT_LIST_DIR}/TessamireIncludes.cmake)

# Checks the includes of every header and source under `folder` before `target` builds (again
# whenever one of them changes); the build stops at the first layer with a fault.
function(tessamire_check_includes target folder)
  file(GLOB_RECURSE files CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/${folder}/*.h
       ${CMAKE_SOURCE_DIR}/${folder}/*.cpp)
  set(stamp ${CMAKE_BINARY_DIR}/scopes/${target}.includes-checked)
  add_custom_command(
    OUTPUT ${stamp}
    COMMAND ${CMAKE_COMMAND} -DROOT=${CMAKE_SOURCE_DIR} -DFOLDER=${folder} -DSTAMP=${stamp}
            -P ${TESSAMIRE_INCLUDE_CHECK}
    DEPENDS ${files} ${TESSAMIRE_INCLUDE_CHECK}
    COMMENT "Checking the includes of ${folder}/"
    VERBATIM)
  add_custom_target(${target}_includes DEPENDS ${stamp})
  add_dependencies(${target} ${target}_includes)
endfunction()

# Gives `target` an include root under the build folder that holds `folder` (a link to the
# source folder at its own path), e.g. scopes/headless_io/headless/io. Units then include
# "headless/io/obj.h" as from the top of the tree, but only what the link exposes. The includes
# of `folder` are checked too (tessamire_check_includes).
function(tessamire_include_scope target folder)
  set(root ${CMAKE_BINARY_DIR}/scopes/${target})
  # A build folder from an older layout may hold a link where a folder now goes (scopes/x/host
  # linked whole, now scopes/x/host/abi): remove such a link, never what it points to.
  string(REPLACE "/" ";" parts ${folder})
  set(prefix ${root})
  foreach(part ${parts})
    set(prefix ${prefix}/${part})
    if(NOT prefix STREQUAL "${root}/${folder}" AND IS_SYMLINK ${prefix})
      file(REMOVE ${prefix})
    endif()
  endforeach()
  get_filename_component(parent ${root}/${folder} DIRECTORY)
  file(MAKE_DIRECTORY ${parent})
  if(NOT IS_SYMLINK ${root}/${folder})
    file(CREATE_LINK ${CMAKE_SOURCE_DIR}/${folder} ${root}/${folder} SYMBOLIC)
  endif()
  get_target_property(type ${target} TYPE)
  if(type STREQUAL "INTERFACE_LIBRARY")
    target_include_directories(${target} INTERFACE ${root})
  else()
    target_include_directories(${target} PUBLIC ${root})
  endif()
  tessamire_check_includes(${target} ${folder})
endfunction()

# A static library of our own from the .cpp files of `folder` (not its subfolders), seeing only
# `folder` itself and the layers it links: tessamire_layer(NAME FOLDER DEPENDS dep...).
function(tessamire_layer name)
  cmake_parse_arguments(L "" "FOLDER" "DEPENDS" ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/${L_FOLDER}/*.cpp)
  add_library(${name} STATIC ${sources})
  tessamire_include_scope(${name} ${L_FOLDER})
  target_compile_options(${name} PRIVATE ${TESSAMIRE_WARNINGS} ${TESSAMIRE_FP})
  target_link_libraries(${name} PUBLIC ${L_DEPENDS})
endfunction()
