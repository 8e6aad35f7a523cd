# Proves that the registration-id check (cmake/check_id_literals.cmake) refuses what it must and
# passes what it must, on copies planted in a scratch folder of the build, never in the tree:
#
#   cmake -DCHECK=<check script> -DSOURCE=<source tree> -DWORK=<scratch folder> -P this
#
# A clean copy (the real ids.h, a file using the names, an id inside a longer number, literals in
# the exempt tests/ and res/ and in what is not source) passes; a copy with one literal planted in
# each checked folder fails and names every planted file.
foreach(required CHECK SOURCE WORK)
  if(NOT ${required})
    message(FATAL_ERROR "give -D${required}=...")
  endif()
endforeach()

function(read_id name out)
  file(STRINGS ${SOURCE}/host/abi/ids.h line REGEX "^inline constexpr Int32 ${name} = [0-9]+")
  if(NOT line MATCHES "= ([0-9]+)")
    message(FATAL_ERROR "host/abi/ids.h: ${name} not found")
  endif()
  set(${out} ${CMAKE_MATCH_1} PARENT_SCOPE)
endfunction()
read_id(ID_ADDTESSAMIRECMD command)
read_id(ID_OTESSAMIRE deformer)
read_id(ID_TTESSAMIRE tag)

function(run_check expect_success)
  execute_process(COMMAND ${CMAKE_COMMAND} -DROOT=${WORK} -P ${CHECK}
                  RESULT_VARIABLE result OUTPUT_VARIABLE out ERROR_VARIABLE err)
  set(output "${out}${err}" PARENT_SCOPE)
  if(expect_success AND NOT result EQUAL 0)
    message(FATAL_ERROR "the check refused a clean tree:\n${out}${err}")
  elseif(NOT expect_success AND result EQUAL 0)
    message(FATAL_ERROR "the check passed a tree with planted literals:\n${out}${err}")
  endif()
endfunction()

file(REMOVE_RECURSE ${WORK})
file(COPY ${SOURCE}/host/abi/ids.h DESTINATION ${WORK}/host/abi)
file(WRITE ${WORK}/source/uses_names.cpp
     "RegisterTag(ID_TTESSAMIRE);\nInt64 larger = ${tag}0;\nInt64 smaller = 1${tag};\n")
file(WRITE ${WORK}/tests/plugin_test.cpp "EXPECT_EQ(id, ${tag});\n")
file(WRITE ${WORK}/res/description/TTessamireres.res "# ${tag}\n")
# Not source: installed packages, caches, seed corpora, hidden folders and minified bundles.
file(WRITE ${WORK}/web/node_modules/three/build/three.module.js "const id = ${tag};\n")
file(WRITE ${WORK}/python/tests/__pycache__/test_files.pyc "${deformer}\n")
file(WRITE ${WORK}/fuzz/corpus/scene_file/seed "${command}\n")
file(WRITE ${WORK}/bench/.cache/notes "${command}\n")
file(WRITE ${WORK}/web/vendor.min.js "var a=${tag};\n")
run_check(TRUE)

set(files host/binding/planted.h source/CaddTessamire/planted.cpp headless/scene/planted.cpp
          cli/README.md python/tests/test_planted.py web/planted.js bench/planted_bench.cpp
          fuzz/make_planted.sh)
file(WRITE ${WORK}/host/binding/planted.h "inline constexpr Int32 kTag = ${tag};\n")
file(WRITE ${WORK}/source/CaddTessamire/planted.cpp "Register(${command}, name);\n")
file(WRITE ${WORK}/headless/scene/planted.cpp "if (type == ${deformer}) return;\n")
file(WRITE ${WORK}/cli/README.md "tessamire command ${command} --select a\n")
file(WRITE ${WORK}/python/tests/test_planted.py "assert scene.tags(${tag})\n")
file(WRITE ${WORK}/web/planted.js "export const deformer = ${deformer};\n")
file(WRITE ${WORK}/bench/planted_bench.cpp "doc.Add(${deformer});\n")
file(WRITE ${WORK}/fuzz/make_planted.sh "tessamire command ${command} a.tsm\n")
run_check(FALSE)
foreach(file IN LISTS files)
  string(FIND "${output}" "${file}:" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "the check did not name ${file}:\n${output}")
  endif()
endforeach()
file(REMOVE_RECURSE ${WORK})
message(STATUS "the check passes a clean copy and names every planted literal")
