# picture_size(FILE WIDTH_VAR HEIGHT_VAR): the size of a BMP or PNG file, read
# from its header.
function(picture_size file width_var height_var)
  if(NOT EXISTS ${file})
    message(FATAL_ERROR "${file} was not written")
  endif()
  file(READ ${file} magic LIMIT 2 HEX)
  if(magic STREQUAL "424d")  # BMP: little-endian sizes at 18 and 22
    file(READ ${file} w OFFSET 18 LIMIT 4 HEX)
    file(READ ${file} h OFFSET 22 LIMIT 4 HEX)
    string(REGEX REPLACE "(..)(..)(..)(..)" "\\4\\3\\2\\1" w ${w})
    string(REGEX REPLACE "(..)(..)(..)(..)" "\\4\\3\\2\\1" h ${h})
  elseif(magic STREQUAL "8950")  # PNG: big-endian sizes in IHDR at 16 and 20
    file(READ ${file} w OFFSET 16 LIMIT 4 HEX)
    file(READ ${file} h OFFSET 20 LIMIT 4 HEX)
  else()
    message(FATAL_ERROR "${file} is neither BMP nor PNG (${magic})")
  endif()
  math(EXPR w "0x${w}")
  math(EXPR h "0x${h}")
  set(${width_var} ${w} PARENT_SCOPE)
  set(${height_var} ${h} PARENT_SCOPE)
endfunction()
