# Runs the built qlxform over the seed forms: dump then compile must give the
# same bytes, bad input must fail with status 1 and one line on stderr, and
# dump and list must refuse the same nesting.
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

# Objects, lists and collections count as one nesting, the same for dump and
# list: 256 levels are read, 257 refused by both.
function(nested_form file kind levels)
  math(EXPR inner "${levels} - 1")
  math(EXPR outer "${levels} - 2")
  if(kind STREQUAL "objects")
    string(REPEAT "\\001T\\001A\\000" ${levels} open)
    string(REPEAT "\\000" ${levels} close)
    set(body "${open}${close}")
  elseif(kind STREQUAL "lists")
    # The root, and lists inside each other in its property X.
    string(REPEAT "\\001" ${inner} open)
    string(REPEAT "\\000" ${inner} close)
    set(body "\\001T\\001A\\001X${open}${close}\\000\\000")
  else()
    # The root, and collections whose one item holds the next in its X.
    string(REPEAT "\\001X\\016\\001" ${outer} open)
    string(REPEAT "\\000\\000" ${outer} close)
    set(body "\\001T\\001A${open}\\001X\\016\\000${close}\\000\\000")
  endif()
  execute_process(COMMAND printf "TPF0${body}" OUTPUT_FILE ${file} RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "could not write ${file}")
  endif()
endfunction()

foreach(kind objects lists collections)
  foreach(levels 256 257)
    set(form ${WORK}/${kind}-${levels}.bin)
    nested_form(${form} ${kind} ${levels})
    foreach(command dump list)
      execute_process(COMMAND ${QLXFORM} ${command} ${form} RESULT_VARIABLE rc
                      OUTPUT_QUIET ERROR_VARIABLE err)
      if(levels EQUAL 256 AND NOT rc EQUAL 0)
        message(FATAL_ERROR "${command} of ${levels} ${kind}: status ${rc}: ${err}")
      endif()
      if(levels EQUAL 257 AND (NOT rc EQUAL 1 OR NOT err MATCHES "Form nesting too deep\n$"))
        message(FATAL_ERROR "${command} of ${levels} ${kind}: status ${rc}, '${err}'")
      endif()
    endforeach()
  endforeach()
endforeach()
