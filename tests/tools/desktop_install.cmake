# Installs the build into a fresh prefix and checks the desktop integration
# there: the file type is recognised by its magic, and the thumbnailer's
# command, run as GNOME's thumbnail factory runs it, writes a PNG thumbnail.
# Arguments: -DBUILD=build folder -DWORK=folder -DSAMPLE=examples/sample.zvk
#            -DUPDATE_MIME_DATABASE=... [-DGIO=...] [-DBWRAP=...]
include(${CMAKE_CURRENT_LIST_DIR}/picture_size.cmake)
include(${CMAKE_CURRENT_LIST_DIR}/run_checked.cmake)
file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK})
set(prefix ${WORK}/prefix)

# --- The install: the tool, the module, the file type, the thumbnailer.
run(${CMAKE_COMMAND} --install ${BUILD} --prefix ${prefix})
file(GLOB_RECURSE modules ${prefix}/ifzvk.so)
foreach(installed bin/zvk-thumb share/mime/packages/ifzvk.xml share/thumbnailers/ifzvk.thumbnailer)
  if(NOT EXISTS ${prefix}/${installed})
    message(FATAL_ERROR "not installed: ${installed}")
  endif()
endforeach()
list(LENGTH modules count)
if(NOT count EQUAL 1 OR modules MATCHES "/bin/")
  message(FATAL_ERROR "the module should be installed once, outside bin/: ${modules}")
endif()

# --- The file type, from the installed package file.
run(${UPDATE_MIME_DATABASE} ${prefix}/share/mime)
file(STRINGS ${prefix}/share/mime/magic magic)
if(NOT magic MATCHES "application/x-zorvik" OR NOT magic MATCHES "zorvixa")
  message(FATAL_ERROR "the MIME database has no magic for application/x-zorvik:\n${magic}")
endif()
if(GIO)
  # As a file manager sees files: the sample under a name that says nothing,
  # and, to show that the content decides, plain text under another such name.
  file(MAKE_DIRECTORY ${WORK}/files ${WORK}/no-home)
  file(COPY_FILE ${SAMPLE} ${WORK}/files/renamed-document)
  file(WRITE ${WORK}/files/renamed-text "zorvik? no, just some text\n")
  foreach(name_type IN ITEMS "renamed-document=application/x-zorvik" "renamed-text=text/plain")
    string(REPLACE "=" ";" name_type ${name_type})
    list(GET name_type 0 name)
    list(GET name_type 1 type)
    run(${CMAKE_COMMAND} -E env XDG_DATA_DIRS=${prefix}/share:/usr/share XDG_DATA_HOME=${WORK}/no-home
        GIO_USE_VFS=local ${GIO} info -a standard::content-type ${WORK}/files/${name})
    if(NOT out MATCHES "standard::content-type: ${type}\n")
      message(FATAL_ERROR "${name} should be ${type}:\n${out}")
    endif()
  endforeach()
else()
  message(STATUS "gio not found: recognition checked in the MIME database's magic only")
endif()

# --- The thumbnailer entry.
file(READ ${prefix}/share/thumbnailers/ifzvk.thumbnailer entry)
if(NOT entry MATCHES "^\\[Thumbnailer Entry\\]\n" OR NOT entry MATCHES "\nTryExec=zvk-thumb\n"
   OR NOT entry MATCHES "\nMimeType=application/x-zorvik;\n" OR NOT entry MATCHES "\nExec=[^\n]*\n")
  message(FATAL_ERROR "unexpected thumbnailer entry:\n${entry}")
endif()
string(REGEX MATCH "\nExec=([^\n]*)" exec "${entry}")
set(exec "${CMAKE_MATCH_1}")

# --- The Exec line inside bubblewrap, with what GNOME gives a thumbnailer:
# /usr, the program's prefix, the input read-only, and a /tmp of its own
# where the thumbnail goes. The working directory (/) is read-only.
if(NOT BWRAP)
  message("SKIPPED: bwrap not found (package bubblewrap)")
  return()
endif()
set(out_dir ${WORK}/sandbox-tmp)
set(input /tmp/gnome-desktop-file-to-thumbnail.zvk)
set(output /tmp/gnome-desktop-thumbnailer.png)
set(sandbox ${BWRAP} --ro-bind /usr /usr --symlink usr/lib /lib --symlink usr/lib64 /lib64 --symlink usr/bin /bin
            --proc /proc --dev /dev --bind ${out_dir} /tmp --ro-bind ${prefix} ${prefix} --ro-bind ${SAMPLE} ${input}
            --remount-ro / --chdir / --setenv PATH ${prefix}/bin:/usr/bin --unsetenv TMPDIR
            --unshare-all --die-with-parent)
file(MAKE_DIRECTORY ${out_dir})
execute_process(COMMAND ${sandbox} /bin/sh -c "touch probe" RESULT_VARIABLE rc ERROR_VARIABLE err)
if(rc EQUAL 0)
  message(FATAL_ERROR "the sandbox's working directory is writable: the test would prove less than it says")
endif()
if(NOT err MATCHES "probe")  # anything but touch's complaint: the sandbox itself failed
  message("SKIPPED: bubblewrap cannot make its sandbox here: ${err}")
  return()
endif()

separate_arguments(command UNIX_COMMAND "${exec}")
# A document without a preview (accepted by its magic) must give no thumbnail,
# so that the file manager shows its own icon instead of caching a black dot.
file(WRITE ${out_dir}/no-preview.zvk "zorvixa-reserved-sizes")
# %s: the size asked for; the sample's preview is 256 x 256 and is never enlarged.
foreach(case IN ITEMS "128=${input}=128" "512=${input}=256" "128=/tmp/no-preview.zvk=none")
  string(REPLACE "=" ";" case ${case})
  list(GET case 0 size)
  list(GET case 1 document)
  list(GET case 2 expected)
  set(args)
  foreach(arg IN LISTS command)
    string(REPLACE "%s" ${size} arg "${arg}")
    string(REPLACE "%i" ${document} arg "${arg}")
    string(REPLACE "%o" ${output} arg "${arg}")
    list(APPEND args "${arg}")
  endforeach()
  file(REMOVE ${out_dir}/gnome-desktop-thumbnailer.png)
  if(expected STREQUAL "none")
    execute_process(COMMAND ${sandbox} ${args} RESULT_VARIABLE rc OUTPUT_QUIET ERROR_QUIET)
    if(rc EQUAL 0 OR EXISTS ${out_dir}/gnome-desktop-thumbnailer.png)
      message(FATAL_ERROR "a document without a preview gave exit ${rc} and a thumbnail")
    endif()
    continue()
  endif()
  run(${sandbox} ${args})
  picture_size(${out_dir}/gnome-desktop-thumbnailer.png w h)
  if(NOT w EQUAL expected OR NOT h EQUAL expected)
    message(FATAL_ERROR "size ${size}: the thumbnail is ${w} x ${h}, expected ${expected} x ${expected}")
  endif()
endforeach()
file(GLOB left ${out_dir}/zvk-thumb-* ${out_dir}/_zvk-spi-tmp_.xml)
if(left)
  message(FATAL_ERROR "left in the sandbox's /tmp: ${left}")
endif()
