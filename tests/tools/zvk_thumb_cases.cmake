# Runs zvk-thumb on prepared inputs and checks each exit code, message and
# written picture.
# Arguments: -DTOOL=... [-DEMULATOR=runner;arg...] -DWORK=folder -DSAMPLE=examples/sample.zvk -DPNG=ON|OFF
#            [-DMAKE=zvk-make, natively] [-DPRLIMIT=prlimit, natively without a sanitizer]
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

# expect(CODE PATTERN [ENV NAME=VALUE] [LIMIT --resource=N] ARGS...)
function(expect code pattern)
  set(args ${ARGN})
  set(prefix)
  if(args MATCHES "^ENV;")
    list(POP_FRONT args)
    list(POP_FRONT args setting)
    set(prefix ${CMAKE_COMMAND} -E env ${setting})
  elseif(args MATCHES "^LIMIT;")
    list(POP_FRONT args)
    list(POP_FRONT args setting)
    set(prefix ${PRLIMIT} ${setting})
  endif()
  # A tool that waits for ever fails here instead of holding up the tests.
  execute_process(COMMAND ${prefix} ${EMULATOR} ${TOOL} ${args} WORKING_DIRECTORY ${WORK} TIMEOUT 120
                  RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT rc EQUAL code)
    message(FATAL_ERROR "zvk-thumb ${args}: exit ${rc}, expected ${code}\n${out}${err}")
  endif()
  if(NOT "${out}${err}" MATCHES "${pattern}")
    message(FATAL_ERROR "zvk-thumb ${args}: output does not match '${pattern}':\n${out}${err}")
  endif()
endfunction()

# expect_unchanged(FILE ORIGINAL): FILE still holds the bytes of ORIGINAL, and
# the tool left no temporary file in the working directory.
function(expect_unchanged file original)
  file(SHA256 ${WORK}/${file} now)
  file(SHA256 ${original} before)
  if(NOT now STREQUAL before)
    message(FATAL_ERROR "${file} was changed")
  endif()
  file(GLOB parts ${WORK}/.zvk-*)
  if(parts)
    message(FATAL_ERROR "partial files left behind: ${parts}")
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
  # After --, a name that starts with a dash is a file (a thumbnailer's %i may).
  file(COPY_FILE ${SAMPLE} ${WORK}/-dash.zvk)
  expect(0 "wrote dash.bmp" -- -dash.zvk dash.bmp)
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
# For thumbnailers: no usable preview gives no file rather than a black dot.
expect(8 "no usable preview in min.zvk" --no-fallback min.zvk no-preview.bmp)
if(EXISTS ${WORK}/no-preview.bmp)
  message(FATAL_ERROR "--no-fallback wrote a picture of a document without a preview")
endif()
# Only regular files are read; a folder or a pipe is refused, not waited on.
expect(4 "cannot read out: a folder, not a regular file" out out.bmp)
if(NOT EMULATOR)
  execute_process(COMMAND mkfifo ${WORK}/pipe.zvk RESULT_VARIABLE rc)
  if(rc EQUAL 0)
    expect(4 "cannot read pipe.zvk: a pipe, not a regular file" pipe.zvk out.bmp)
  endif()
endif()
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

# The user's files stay as they were: an output that is the input (also into
# a folder), a read-only output, and one whose new version cannot be written
# completely.
file(COPY_FILE ${SAMPLE} ${WORK}/itself.bmp)
expect(6 "not writing itself.bmp: it is the input itself.bmp itself" itself.bmp itself.bmp)
expect_unchanged(itself.bmp ${SAMPLE})
file(MAKE_DIRECTORY ${WORK}/own)
file(COPY_FILE ${SAMPLE} ${WORK}/own/doc.bmp)
expect(6 "not writing own/doc.bmp: it is the input" --format bmp own/doc.bmp own)
expect_unchanged(own/doc.bmp ${SAMPLE})
file(WRITE ${WORK}/kept.original "the user's own picture")
file(COPY_FILE ${WORK}/kept.original ${WORK}/kept.bmp)
file(CHMOD ${WORK}/kept.bmp PERMISSIONS OWNER_READ)
expect(6 "cannot write kept.bmp: it is read-only" sample.zvk kept.bmp)
expect_unchanged(kept.bmp ${WORK}/kept.original)
file(CHMOD ${WORK}/kept.bmp PERMISSIONS OWNER_READ OWNER_WRITE)
if(PRLIMIT)
  # A write that stops half-way, here at a file size limit as on a full disk.
  expect(6 "cannot write kept.bmp: cannot write the data" LIMIT --fsize=65536 sample.zvk kept.bmp)
  expect_unchanged(kept.bmp ${WORK}/kept.original)
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
expect(0 "IsSupported \\(file handle\\): 1.*GetPictureInfo \\(file, offset 5\\): 0 \\(success\\).*preview: 256 x 256"
       --info --offset 5 padded.zvk)
# Why a document shows the 1 x 1 picture.
expect(0 "preview: none, the module shows 1 x 1: the document's section sizes do not fit the file" --info min.zvk)
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

# Shrinking a long strip takes memory for the thumbnail, not per source row:
# a 1 x 16777216 preview (64 MiB) fits in an address space that holds the
# module's and the tool's copies of it and little more.
if(PRLIMIT AND MAKE)
  execute_process(COMMAND ${MAKE} --scene 1 --size 1x16777216 ${WORK}/strip.zvk RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "zvk-make could not make the strip document")
  endif()
  expect(0 "wrote strip.png \\(1 x 256 from 1 x 16777216\\)" LIMIT --as=268435456 --size 256 strip.zvk strip.png)
endif()

# zvk-make refuses an input that is no picture it reads, with a message.
if(MAKE)
  foreach(input_message IN ITEMS "out=a folder, not a regular file" "plain.txt=not a BMP file"
                                 "missing.bmp=No such file")
    string(REPLACE "=" ";" input_message ${input_message})
    list(GET input_message 0 input)
    list(GET input_message 1 message)
    execute_process(COMMAND ${MAKE} --input ${input} made.zvk WORKING_DIRECTORY ${WORK} TIMEOUT 60
                    RESULT_VARIABLE rc ERROR_VARIABLE err)
    if(NOT rc EQUAL 2 OR NOT err MATCHES "^zvk-make: ${input}: ${message}")
      message(FATAL_ERROR "zvk-make --input ${input}: exit ${rc}, expected 2 and '${message}':\n${err}")
    endif()
  endforeach()
  if(EXISTS ${WORK}/made.zvk)
    message(FATAL_ERROR "zvk-make wrote a document from a bad input")
  endif()
endif()

file(GLOB left ${WORK}/_zvk-spi-tmp_.xml/*)
if(left)
  message(FATAL_ERROR "the module wrote into the working directory: ${left}")
endif()
