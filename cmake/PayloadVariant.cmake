# The wizard's text forms with a payload other than the product's, for test
# programs that show what the real payload cannot:
#   cmake -DSRC=<src/setup> -DOUT=<folder> -DPRODUCT=<product files>
#         [-DDROP=<file name>] [-DREPLACE=<file name> -DWITH=<file>] -P PayloadVariant.cmake
# DROP leaves that file's stored item out; REPLACE stores the file WITH under
# that name instead of the product's.
include(${SRC}/GenerateForms.cmake)

if(REPLACE)
  file(COPY_FILE ${WITH} ${OUT}/payload/${REPLACE})
endif()

if(DROP)
  file(READ ${OUT}/Unit1.form form)
  string(REPLACE "." "\\." name "${DROP}")
  set(item "      item\n(        Compression = [A-Za-z]+\n)?        Name = '[A-Za-z0-9]+'\n")
  string(APPEND item "        FileName = '${name}'\n        Content = file '[^']+'\n      end\n")
  string(REGEX REPLACE "${item}" "" dropped "${form}")
  if(dropped STREQUAL form)
    message(FATAL_ERROR "No stored item for ${DROP} in ${OUT}/Unit1.form")
  endif()
  file(WRITE ${OUT}/Unit1.form "${dropped}")
  file(REMOVE ${OUT}/payload/${DROP})
endif()
