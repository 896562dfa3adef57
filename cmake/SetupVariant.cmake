# Setup programs with another payload, built from the shipped program's own
# sources and libraries, for tests and benchmarks. Include after src/setup.
include_guard(GLOBAL)

#   qlx_setup_variant(<target> [EXCLUDE_FROM_ALL] [DROP <file name>]
#                     [REPLACE <file name> WITH <file>] [FORMS <library>])
# FORMS links another build of the program's forms than qlx_setup_forms.
function(qlx_setup_variant name)
  cmake_parse_arguments(V "EXCLUDE_FROM_ALL" "DROP;REPLACE;WITH;FORMS" "" ${ARGN})
  if(NOT V_FORMS)
    set(V_FORMS qlx_setup_forms)
  endif()
  set(QLX_PAYLOAD_VARIANT ${CMAKE_CURRENT_FUNCTION_LIST_DIR}/PayloadVariant.cmake)
  set(QLX_SETUP_SRC ${PROJECT_SOURCE_DIR}/src/setup)
  # The form tool that src/setup builds for the build machine.
  set(QLX_HOST_QLXFORM ${PROJECT_BINARY_DIR}/host-tools/tools/qlxform)
  set(dir ${CMAKE_CURRENT_BINARY_DIR}/${name})
  set(payload ${QLX_PRODUCT_DIR}/QLX_Tessel_3.dll ${QLX_PRODUCT_DIR}/sqlite3.dll
              ${QLX_PRODUCT_DIR}/uninstall.exe ${QLX_PRODUCT_DIR}/Msvcrt.dll)
  add_custom_command(
    OUTPUT ${dir}/Unit1.form ${dir}/Unit3.form
    COMMAND ${CMAKE_COMMAND} -DSRC=${QLX_SETUP_SRC} -DOUT=${dir} -DPRODUCT=${QLX_PRODUCT_DIR}
            -DDROP=${V_DROP} -DREPLACE=${V_REPLACE} -DWITH=${V_WITH}
            -P ${QLX_PAYLOAD_VARIANT}
    DEPENDS ${QLX_PAYLOAD_VARIANT} ${QLX_SETUP_SRC}/GenerateForms.cmake
            ${QLX_SETUP_SRC}/Unit1.form ${QLX_SETUP_SRC}/Unit3.form ${payload} ${V_WITH}
            qlx_product
    COMMENT "Filling the text forms of ${name}")
  foreach(form 1 3)
    add_custom_command(
      OUTPUT ${dir}/TFORM${form}.bin
      COMMAND ${QLX_HOST_QLXFORM} compile ${dir}/Unit${form}.form -o ${dir}/TFORM${form}.bin
      DEPENDS ${dir}/Unit${form}.form qlx_host_tools
      COMMENT "Compiling form TFORM${form} of ${name}")
  endforeach()
  # The shipped program's sources, its resource script compiled against the
  # variant's forms.
  get_target_property(sources QLXT3SE_Setup SOURCES)
  list(FILTER sources EXCLUDE REGEX "\\.rc$")
  list(TRANSFORM sources PREPEND ${QLX_SETUP_SRC}/ REGEX "^[^/]")
  configure_file(${QLX_SETUP_SRC}/QLXT3SE_Setup.rc ${dir}/${name}.rc COPYONLY)
  set(rc_flags -I${dir} -I${QLX_SETUP_SRC})
  if(EXISTS ${QLX_SETUP_SRC}/res/QLXT3SE.ico)
    list(APPEND rc_flags -DQLX_HAVE_ICON)
  endif()
  set_source_files_properties(${dir}/${name}.rc PROPERTIES
    COMPILE_OPTIONS "${rc_flags}"
    OBJECT_DEPENDS "${dir}/TFORM1.bin;${dir}/TFORM3.bin;${QLX_SETUP_SRC}/QLXT3SE_Setup.manifest")
  set(exclude)
  if(V_EXCLUDE_FROM_ALL)
    set(exclude EXCLUDE_FROM_ALL)
  endif()
  add_executable(${name} WIN32 ${exclude} ${sources} ${dir}/${name}.rc)
  target_link_libraries(${name} PRIVATE ${V_FORMS})
  # Linked as the shipped program is, so that only the payload differs.
  foreach(property LINK_OPTIONS INTERPROCEDURAL_OPTIMIZATION)
    get_target_property(value QLXT3SE_Setup ${property})
    if(value)
      set_target_properties(${name} PROPERTIES ${property} "${value}")
    endif()
  endforeach()
  qlx_warnings(${name})
endfunction()

