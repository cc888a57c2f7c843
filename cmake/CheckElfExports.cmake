# Run as: cmake -DMODULE=path/ifzvk.so -P CheckElfExports.cmake
# Fails unless the module's dynamic symbol table defines exactly the five
# plug-in functions.
execute_process(COMMAND nm -D --defined-only ${MODULE} OUTPUT_VARIABLE listing RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "nm failed on ${MODULE}")
endif()
string(REGEX MATCHALL "[^\n]+" lines "${listing}")
set(names "")
foreach(line IN LISTS lines)
  string(REGEX REPLACE "^.* " "" name "${line}")
  list(APPEND names ${name})
endforeach()
list(SORT names)
set(expected GetPicture GetPictureInfo GetPluginInfo GetPreview IsSupported)
if(NOT names STREQUAL expected)
  message(FATAL_ERROR "exported: ${names}\nexpected: ${expected}")
endif()
message(STATUS "exports: ${names}")
