# Cross build for Windows x86-64 with Debian's mingw-w64 compilers (g++-mingw-w64-x86-64-posix:
# the posix thread model, which std::thread needs). Programs built here run on these machines
# under wine, which CTest starts them through.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(TESSAMIRE_MINGW x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${TESSAMIRE_MINGW}-gcc-posix)
set(CMAKE_CXX_COMPILER ${TESSAMIRE_MINGW}-g++-posix)
set(CMAKE_RC_COMPILER ${TESSAMIRE_MINGW}-windres)

# Libraries, headers and packages come from the mingw sysroot and the prefixes given with
# CMAKE_PREFIX_PATH (where the cross-built GoogleTest is installed), never from the build machine.
list(APPEND CMAKE_FIND_ROOT_PATH /usr/${TESSAMIRE_MINGW} ${CMAKE_PREFIX_PATH})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The C++ runtime, libgcc and the thread library go into every program and the plug-in library,
# so that they import nothing but Windows system libraries.
set(CMAKE_EXE_LINKER_FLAGS_INIT -static)
set(CMAKE_SHARED_LINKER_FLAGS_INIT -static)
set(CMAKE_MODULE_LINKER_FLAGS_INIT -static)

# wine runs the programs, in a wine prefix of the build's own so that nothing outside the build
# folder is touched; Mono and Gecko are not wanted (and a fresh prefix would ask for them).
find_program(TESSAMIRE_WINE64 NAMES wine64 PATHS /usr/lib/wine)
if(TESSAMIRE_WINE64)
  get_filename_component(wine_folder ${TESSAMIRE_WINE64} DIRECTORY)
  find_program(TESSAMIRE_WINESERVER NAMES wineserver HINTS ${wine_folder})
  set(TESSAMIRE_WINE_ENV ${CMAKE_COMMAND} -E env WINEPREFIX=${CMAKE_BINARY_DIR}/wine
      WINEDEBUG=-all WINEDLLOVERRIDES=mscoree,mshtml=)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${TESSAMIRE_WINE_ENV} ${TESSAMIRE_WINE64})
endif()
