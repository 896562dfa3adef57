# Fills the text forms' placeholders for the form tool: the licence as
# Lines.Strings, the pictures as Picture.Data (class name, length, JPEG file)
# and the product's files beside the form, where its payload names them.
#   cmake -DSRC=<src/setup> -DOUT=<binary dir> -DPRODUCT=<product files> -P GenerateForms.cmake

# Picture.Data of a JPEG file, as the hex digits of a binary value.
function(picture_data jpeg result)
  if(NOT EXISTS ${jpeg})
    set(${result} "" PARENT_SCOPE)
    return()
  endif()
  file(READ ${jpeg} hex HEX)
  file(SIZE ${jpeg} size)
  set(length "")
  foreach(shift 0 8 16 24)
    math(EXPR byte "(${size} >> ${shift}) & 255" OUTPUT_FORMAT HEXADECIMAL)
    string(SUBSTRING "${byte}" 2 -1 byte)
    string(LENGTH "${byte}" n)
    if(n EQUAL 1)
      set(byte "0${byte}")
    endif()
    string(APPEND length "${byte}")
  endforeach()
  # "\x0ATJPEGImage"
  set(${result} "Picture.Data = {0A544A504547496D616765${length}${hex}}" PARENT_SCOPE)
endfunction()

set(licence ${SRC}/res/licence.txt)
if(EXISTS ${licence})
  file(READ ${licence} text)
else()
  set(text "The licence agreement is missing from this build.\n")
endif()
string(REPLACE "\r" "" text "${text}")
string(REGEX REPLACE "\n$" "" text "${text}")
string(REPLACE "'" "''" text "${text}")
string(REPLACE "\n" "'\n      '" text "${text}")
set(QLX_LICENCE_LINES "      '${text}'")

picture_data(${SRC}/res/thumbnail.jpg QLX_THUMBNAIL_PICTURE)
picture_data(${SRC}/res/screenshot.jpg QLX_SCREENSHOT_PICTURE)

file(MAKE_DIRECTORY ${OUT}/payload)
foreach(name QLX_Tessel_3.dll sqlite3.dll uninstall.exe Msvcrt.dll)
  if(NOT EXISTS ${PRODUCT}/${name})
    message(FATAL_ERROR "The product file ${PRODUCT}/${name} is missing")
  endif()
  file(COPY_FILE ${PRODUCT}/${name} ${OUT}/payload/${name})
endforeach()

configure_file(${SRC}/Unit1.form ${OUT}/Unit1.form @ONLY)
configure_file(${SRC}/Unit3.form ${OUT}/Unit3.form @ONLY)
