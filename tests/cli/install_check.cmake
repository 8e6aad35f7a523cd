# `make install` gives a working, relocatable program: installs the build into a temporary prefix,
# moves the prefix elsewhere, and runs the installed program from there with no hint where its
# plug-ins are. Run by CTest as: cmake -DBUILD=<build folder> -P install_check.cmake
set(base ${BUILD}/install-check)
file(REMOVE_RECURSE ${base})
execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD} --prefix ${base}/first
                RESULT_VARIABLE result OUTPUT_QUIET ERROR_VARIABLE error)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "cmake --install failed: ${error}")
endif()
foreach(file bin/tessamire lib/tessamire/plugins/tessamire/tessamire.xdl64
             lib/tessamire/plugins/tessamire/res/strings/strings.txt
             lib/tessamire/plugins/tessamire/res/description/TTessamireres.res
             lib/tessamire/plugins/tessamire/res/icons/tshowtbn.tif)
  if(NOT EXISTS ${base}/first/${file})
    message(FATAL_ERROR "the install lacks ${file}")
  endif()
endforeach()
file(RENAME ${base}/first ${base}/moved)

execute_process(COMMAND ${CMAKE_COMMAND} -E env --unset=TESSAMIRE_PLUGINS
                        ${base}/moved/bin/tessamire info
                RESULT_VARIABLE result OUTPUT_VARIABLE out ERROR_VARIABLE error)
if(NOT result EQUAL 0 OR NOT error STREQUAL "")
  message(FATAL_ERROR "the moved program's info failed (${result}): ${error}")
endif()
foreach(expected "Tessamire v1.10" "command 1035622" "object 1035447" "tag 1035496"
                 "description=TTessamireres icon=32x32")
  string(FIND "${out}" "${expected}" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "the moved program's info lacks \"${expected}\":\n${out}")
  endif()
endforeach()

execute_process(COMMAND ${CMAKE_COMMAND} -E env --unset=TESSAMIRE_PLUGINS
                        ${base}/moved/bin/tessamire --version
                RESULT_VARIABLE result OUTPUT_VARIABLE out)
string(FIND "${out}" "${base}/moved/lib/tessamire/plugins/tessamire/tessamire.xdl64: Tessamire v1.10"
       at)
if(NOT result EQUAL 0 OR at EQUAL -1)
  message(FATAL_ERROR "the moved program's --version does not name the moved plug-in:\n${out}")
endif()
# The Python module, installed where the prefix's Python looks, finds the moved plug-in too.
if(DEFINED PYTHON)
  file(GLOB module ${base}/moved/lib/python*/*-packages/tessamire/_tessamire*.so)
  list(LENGTH module found)
  if(NOT found EQUAL 1)
    message(FATAL_ERROR "the install holds ${found} Python modules under lib/python*/*-packages")
  endif()
  get_filename_component(package ${module} DIRECTORY)
  get_filename_component(site ${package} DIRECTORY)
  foreach(file __init__.py __init__.pyi py.typed)
    if(NOT EXISTS ${package}/${file})
      message(FATAL_ERROR "the install lacks the package's ${file} in ${package}")
    endif()
  endforeach()
  execute_process(COMMAND ${CMAKE_COMMAND} -E env --unset=TESSAMIRE_PLUGINS PYTHONPATH=${site}
                          ${PYTHON} -c "import tessamire; tessamire.load_plugins(); print(tessamire.plugin_folder())"
                  RESULT_VARIABLE result OUTPUT_VARIABLE out ERROR_VARIABLE error)
  string(FIND "${out}" "${base}/moved/lib/tessamire/plugins" at)
  if(NOT result EQUAL 0 OR at EQUAL -1)
    message(FATAL_ERROR "the moved Python module did not load the moved plug-in (${result}):\n${out}${error}")
  endif()
endif()
file(REMOVE_RECURSE ${base})
