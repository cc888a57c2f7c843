# Runs zvk-thumb on prepared inputs and checks each exit code and message.
# Arguments: -DTOOL=... [-DEMULATOR=wine] -DWORK=folder
file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK})
# A document whose header sizes break the layout: accepted by its magic, no
# preview, so the plug-in gives its 1 x 1 picture. (CMake cannot write NULs.)
file(WRITE ${WORK}/min.zvk "zorvixa-reserved-sizes")
file(WRITE ${WORK}/plain.txt "just some text, certainly no zorvik document")

function(expect code pattern)
  execute_process(COMMAND ${EMULATOR} ${TOOL} ${ARGN} WORKING_DIRECTORY ${WORK}
                  RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT rc EQUAL code)
    message(FATAL_ERROR "zvk-thumb ${ARGN}: exit ${rc}, expected ${code}\n${out}${err}")
  endif()
  if(NOT "${out}${err}" MATCHES "${pattern}")
    message(FATAL_ERROR "zvk-thumb ${ARGN}: output does not match '${pattern}':\n${out}${err}")
  endif()
endfunction()

expect(0 "usage: zvk-thumb" --help)
expect(1 "expected INPUT and OUTPUT" only-one.zvk)
expect(1 "unknown option --frobnicate" --frobnicate a b)
expect(1 "--offset needs" --offset x a b)
expect(2 "cannot load the plug-in module" --module no-such-module a.zvk out.bmp)
expect(4 "cannot read missing.zvk" missing.zvk out.bmp)
expect(3 "not a zorvik document: plain.txt" plain.txt out.bmp)
expect(0 "wrote out.bmp \\(1 x 1\\)" min.zvk out.bmp)
expect(6 "cannot write no-such-folder/out.bmp" min.zvk no-such-folder/out.bmp)
file(SIZE ${WORK}/out.bmp size)
if(NOT size EQUAL 58)
  message(FATAL_ERROR "a 1 x 1 picture makes a 58-byte BMP file, not ${size}")
endif()
