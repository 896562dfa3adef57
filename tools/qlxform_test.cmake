# Runs the built qlxform over the seed forms: dump then compile must give the
# same bytes, and bad input must fail with status 1 and one line on stderr.
#   cmake -DQLXFORM=<tool> -DCORPUS=<folder> -DWORK=<scratch folder> -P qlxform_test.cmake

file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK})
file(GLOB seeds ${CORPUS}/*.bin)
list(LENGTH seeds count)
if(count EQUAL 0)
  message(FATAL_ERROR "no seed forms in ${CORPUS}")
endif()

foreach(seed IN LISTS seeds)
  get_filename_component(name ${seed} NAME_WE)
  execute_process(COMMAND ${QLXFORM} dump ${seed} OUTPUT_FILE ${WORK}/${name}.txt
                  RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "dump ${seed} failed: ${rc}")
  endif()
  execute_process(COMMAND ${QLXFORM} compile ${WORK}/${name}.txt -o ${WORK}/${name}.bin
                  RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "compile ${WORK}/${name}.txt failed: ${rc}")
  endif()
  execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files ${seed} ${WORK}/${name}.bin
                  RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "${name}: dump and compile changed the bytes")
  endif()
endforeach()

# Bad input: a cut-off form, a text error, a missing file, no arguments.
file(WRITE ${WORK}/bad.txt "object A: T\n  X = @\nend\n")
file(WRITE ${WORK}/tail.bin "TPF0\tT")
foreach(args "dump;${WORK}/tail.bin" "compile;${WORK}/bad.txt;-o;${WORK}/bad.bin"
             "dump;${WORK}/missing.bin" "")
  execute_process(COMMAND ${QLXFORM} ${args} RESULT_VARIABLE rc ERROR_VARIABLE err)
  if(NOT rc EQUAL 1)
    message(FATAL_ERROR "qlxform ${args}: status ${rc}, expected 1")
  endif()
  if(args AND NOT err MATCHES "^qlxform: [^\n]+: [^\n]+\n$")
    message(FATAL_ERROR "qlxform ${args}: unexpected message '${err}'")
  endif()
endforeach()
if(EXISTS ${WORK}/bad.bin)
  message(FATAL_ERROR "a failed compile left its output behind")
endif()
