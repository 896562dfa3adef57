# The tool's store commands end to end: compile a text form whose items name
# their content files, list it, extract it, and compare the bytes; a hostile
# file name fails with status 1 and writes nothing.
#   cmake -DQLXFORM=<tool> -DWORK=<scratch folder> -P qlxform_store_test.cmake

file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK}/payload)
string(REPEAT "QLX Tessel 3 Starter Edition, sample content.\n" 4000 text)
file(WRITE ${WORK}/payload/library.dll "${text}")
file(WRITE ${WORK}/payload/empty.bin "")
file(WRITE ${WORK}/form.txt [=[
object Form1: TForm1
  Caption = 'QLX Installer'
  object Label1: TLabel
    Caption = 'not a class the tool knows'
  end
  object mxStorage1: TmxStorage
    StoredItems = <
      item
        FileName = 'QLX_Tessel_3.dll'
        Compression = clMax
        Content = file 'payload/library.dll'
      end
      item
        FileName = 'empty.bin'
        Content = file 'payload/empty.bin'
      end>
    Left = 208
    Top = 184
  end
end
]=])

function(run)
  execute_process(COMMAND ${QLXFORM} ${ARGN} RESULT_VARIABLE rc OUTPUT_VARIABLE out
                  ERROR_VARIABLE err)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "qlxform ${ARGN}: status ${rc}: ${err}")
  endif()
  set(out "${out}" PARENT_SCOPE)
endfunction()

run(compile ${WORK}/form.txt -o ${WORK}/form.bin)
run(list ${WORK}/form.bin)
string(REPLACE "\n" ";" lines "${out}")
list(GET lines 0 header)
list(GET lines 1 first)
list(GET lines 2 second)
if(NOT header STREQUAL "Name\tFileName\tFileSize\tSize\tRatio\tCompression")
  message(FATAL_ERROR "list header: '${header}'")
endif()
if(NOT first MATCHES "^mxStoredItem1\tQLX_Tessel_3.dll\t184000\t[0-9]+\t[0-9]+[.,][0-9][0-9]%\tclMax$")
  message(FATAL_ERROR "list line 1: '${first}'")
endif()
if(NOT second MATCHES "^mxStoredItem2\tempty.bin\t0\t0\t100%\tclDefault$")
  message(FATAL_ERROR "list line 2: '${second}'")
endif()

run(extract ${WORK}/form.bin -d ${WORK}/out)
execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files ${WORK}/payload/library.dll
                        ${WORK}/out/QLX_Tessel_3.dll RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "extracted library differs from its content file")
endif()
file(SIZE ${WORK}/out/empty.bin size)
if(NOT size EQUAL 0)
  message(FATAL_ERROR "empty item extracted to ${size} bytes")
endif()

# dump and compile of the compiled form give back its bytes.
run(dump ${WORK}/form.bin)
set(dumped "${out}")
file(WRITE ${WORK}/again.txt "${dumped}")
run(compile ${WORK}/again.txt -o ${WORK}/again.bin)
execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files ${WORK}/form.bin ${WORK}/again.bin
                RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "dump and compile of a store changed the bytes")
endif()

# A stored file name that leaves the folder: refused by compile when the store
# is built from contents, and by extract when a form carries it anyway (the
# dumped text keeps its records raw, so it compiles).
file(READ ${WORK}/form.txt source)
foreach(bad "..\\evil.dll" "../evil.dll" "C:evil.dll" "..")
  string(REPLACE "'QLX_Tessel_3.dll'" "'${bad}'" evil "${source}")
  file(WRITE ${WORK}/evil.txt "${evil}")
  execute_process(COMMAND ${QLXFORM} compile ${WORK}/evil.txt -o ${WORK}/evil.bin
                  RESULT_VARIABLE rc ERROR_VARIABLE err)
  if(NOT rc EQUAL 1 OR NOT err MATCHES "Invalid stored file name")
    message(FATAL_ERROR "compile with FileName ${bad}: status ${rc}: ${err}")
  endif()

  string(REPLACE "'QLX_Tessel_3.dll'" "'${bad}'" evil "${dumped}")
  file(WRITE ${WORK}/evil.txt "${evil}")
  run(compile ${WORK}/evil.txt -o ${WORK}/evil.bin)
  execute_process(COMMAND ${QLXFORM} extract ${WORK}/evil.bin -d ${WORK}/evil/in
                  RESULT_VARIABLE rc ERROR_VARIABLE err)
  if(NOT rc EQUAL 1 OR NOT err MATCHES "^qlxform: [^\n]+: [^\n]*Invalid stored file name[^\n]*\n$")
    message(FATAL_ERROR "extract of FileName ${bad}: status ${rc}: ${err}")
  endif()
  file(GLOB_RECURSE written ${WORK}/evil/*)
  if(written OR EXISTS ${WORK}/evil.dll)
    message(FATAL_ERROR "extract of FileName ${bad} wrote ${written}")
  endif()
endforeach()
