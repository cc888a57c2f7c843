# Runs zvk-thumb on prepared inputs and checks each exit code, message and
# written picture.
# Arguments: -DTOOL=... [-DEMULATOR=wine] -DWORK=folder -DSAMPLE=examples/sample.zvk -DPNG=ON|OFF
file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK})
# A document whose header sizes break the layout: accepted by its magic, no
# preview, so the plug-in gives its 1 x 1 picture. (CMake cannot write NULs.)
file(WRITE ${WORK}/min.zvk "zorvixa-reserved-sizes")
file(WRITE ${WORK}/plain.txt "just some text, certainly no zorvik document")
file(COPY_FILE ${SAMPLE} ${WORK}/sample.zvk)
file(COPY_FILE ${SAMPLE} ${WORK}/copy.zvk)
# The sample 5 bytes into a file, for --offset.
file(WRITE ${WORK}/head.bin "12345")
execute_process(COMMAND ${CMAKE_COMMAND} -E cat ${WORK}/head.bin ${SAMPLE} OUTPUT_FILE ${WORK}/padded.zvk)
# The module's temporary file cannot be made in the tool's working directory:
# a folder has its name. Every preview below is the real one all the same,
# since the tool gives the module a private folder of its own.
file(MAKE_DIRECTORY ${WORK}/_zvk-spi-tmp_.xml)

# expect(CODE PATTERN [ENV NAME=VALUE] ARGS...)
function(expect code pattern)
  set(args ${ARGN})
  set(env)
  if(args MATCHES "^ENV;")
    list(POP_FRONT args)
    list(POP_FRONT args setting)
    set(env ${CMAKE_COMMAND} -E env ${setting})
  endif()
  execute_process(COMMAND ${env} ${EMULATOR} ${TOOL} ${args} WORKING_DIRECTORY ${WORK}
                  RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT rc EQUAL code)
    message(FATAL_ERROR "zvk-thumb ${args}: exit ${rc}, expected ${code}\n${out}${err}")
  endif()
  if(NOT "${out}${err}" MATCHES "${pattern}")
    message(FATAL_ERROR "zvk-thumb ${args}: output does not match '${pattern}':\n${out}${err}")
  endif()
endfunction()

# expect_picture(FILE WIDTH HEIGHT): a BMP or PNG file of that size.
include(${CMAKE_CURRENT_LIST_DIR}/picture_size.cmake)
function(expect_picture file width height)
  picture_size(${WORK}/${file} w h)
  if(NOT w EQUAL width OR NOT h EQUAL height)
    message(FATAL_ERROR "${file} is ${w} x ${h}, expected ${width} x ${height}")
  endif()
endfunction()

# Usage and option errors.
expect(0 "usage: zvk-thumb" --help)
expect(1 "expected INPUT and OUTPUT" only-one.zvk)
expect(1 "unknown option --frobnicate" --frobnicate a b)
expect(1 "--offset needs" --offset x a b)
# The same code reads the options everywhere; every start under Wine costs
# seconds, so these run natively only.
if(NOT EMULATOR)
  expect(1 "--size needs a whole number of pixels" --size 0 sample.zvk out.bmp)
  expect(1 "--size needs" --size 12px sample.zvk out.bmp)
  expect(1 "--format needs png or bmp" --format gif sample.zvk .)
  expect(1 "--format is for an output folder" --format bmp sample.zvk out.bmp)
  expect(1 "OUTPUT must end in .png or .bmp, or be an existing folder: out.jpg" sample.zvk out.jpg)
  expect(1 "the last argument must be an existing folder: no-such-folder" sample.zvk copy.zvk no-such-folder)
endif()
file(MAKE_DIRECTORY ${WORK}/out ${WORK}/other)
file(COPY_FILE ${SAMPLE} ${WORK}/other/sample.zvk)
expect(1 "sample.zvk and other/sample.zvk would both be written to out/sample" sample.zvk other/sample.zvk out)

# Failures of one input.
expect(2 "cannot load the plug-in module" --module no-such-module a.zvk out.bmp)
expect(4 "cannot read missing.zvk" missing.zvk out.bmp)
expect(3 "not a zorvik document: plain.txt" plain.txt out.bmp)
expect(0 "wrote out.bmp \\(1 x 1\\)" min.zvk out.bmp)
expect(6 "cannot write no-such-folder/out.bmp" min.zvk no-such-folder/out.bmp)
file(SIZE ${WORK}/out.bmp size)
if(NOT size EQUAL 58)
  message(FATAL_ERROR "a 1 x 1 picture makes a 58-byte BMP file, not ${size}")
endif()

# The sample's 256 x 256 preview: as it is, shrunk, never enlarged, at an offset.
expect(0 "wrote full.bmp \\(256 x 256\\)" sample.zvk full.bmp)
file(SIZE ${WORK}/full.bmp size)
if(NOT size EQUAL 196662)
  message(FATAL_ERROR "a 256 x 256 picture makes a 196662-byte BMP file, not ${size}")
endif()
expect(0 "wrote small.bmp \\(100 x 100 from 256 x 256\\)" --size 100 sample.zvk small.bmp)
expect_picture(small.bmp 100 100)
if(NOT EMULATOR)
  expect(0 "wrote same.bmp \\(256 x 256\\)" --size 300 sample.zvk same.bmp)
  expect_picture(same.bmp 256 256)
endif()
expect(0 "wrote offset.bmp \\(256 x 256\\)" --offset 5 padded.zvk offset.bmp)
file(SHA256 ${WORK}/full.bmp full)
file(SHA256 ${WORK}/offset.bmp offset)
if(NOT full STREQUAL offset)
  message(FATAL_ERROR "the document at offset 5 gives another picture")
endif()

if(PNG)
  expect(0 "wrote thumb.png \\(64 x 64 from 256 x 256\\)" --size 64 sample.zvk thumb.png)
  expect_picture(thumb.png 64 64)
  expect(0 "wrote CAPS.PNG" sample.zvk CAPS.PNG)
  expect_picture(CAPS.PNG 256 256)
else()
  expect(1 "writes BMP files only" sample.zvk thumb.png)
  expect(1 "writes BMP files only" --format png sample.zvk out)
endif()

# Several inputs into a folder: each under its own name; a failure does not
# stop the others, and the first failure's code is the exit code.
expect(0 "wrote out/sample.bmp \\(32 x 32 from 256 x 256\\).*wrote out/copy.bmp" --size 32 --format bmp sample.zvk copy.zvk out)
expect_picture(out/sample.bmp 32 32)
expect_picture(out/copy.bmp 32 32)
file(REMOVE ${WORK}/out/sample.bmp ${WORK}/out/copy.bmp)
expect(4 "cannot read missing.zvk.*not a zorvik document: plain.txt" --format bmp missing.zvk plain.txt copy.zvk out)
expect_picture(out/copy.bmp 256 256)

# --info: the module's strings and its answers for each input.
expect(0 "GetPluginInfo 0: 00IN.*GetPluginInfo 1: zorvik plugin 1.01.*GetPluginInfo 3: zorvik \\(\\*.zvk\\)" --info)
set(nl "\r?\n  ")
string(CONCAT answers
       "sample.zvk${nl}IsSupported \\(file handle\\): 1${nl}IsSupported \\(first bytes\\): 1"
       "${nl}GetPictureInfo \\(file, offset 0\\): 0 \\(success\\): 1 x 1 at 24 bits, left 0, top 0, density 0 x 0, no text"
       "${nl}GetPictureInfo \\(first [0-9]+ bytes\\): 0 \\(success\\)"
       ".*plain.txt${nl}IsSupported \\(file handle\\): 0${nl}IsSupported \\(first bytes\\): 0"
       "${nl}GetPictureInfo \\(file, offset 0\\): 2 \\(not a document of this kind\\)")
expect(3 "${answers}" --info sample.zvk plain.txt)
expect(0 "IsSupported \\(file handle\\): 1.*GetPictureInfo \\(file, offset 5\\): 0 \\(success\\)" --info --offset 5 padded.zvk)
if(NOT EMULATOR)
  expect(4 "cannot read missing.zvk" --info missing.zvk)
endif()

# The private folders go where TMPDIR says and are gone afterwards; without a
# usable one the tool stops before the module can write anywhere else.
if(NOT EMULATOR)
  file(MAKE_DIRECTORY ${WORK}/tmp)
  expect(0 "wrote ./sample.png.*wrote ./copy.png" ENV TMPDIR=${WORK}/tmp sample.zvk copy.zvk .)
  file(GLOB left ${WORK}/tmp/*)
  if(left)
    message(FATAL_ERROR "left in the temporary folder: ${left}")
  endif()
  expect(7 "no private working folder for the plug-in: cannot make a private folder in ${WORK}/missing"
         ENV TMPDIR=${WORK}/missing sample.zvk nothing.bmp)
  if(EXISTS ${WORK}/nothing.bmp)
    message(FATAL_ERROR "nothing.bmp was written without a private folder")
  endif()
endif()

file(GLOB left ${WORK}/_zvk-spi-tmp_.xml/*)
if(left)
  message(FATAL_ERROR "the module wrote into the working directory: ${left}")
endif()
