# cmake --install into a fresh prefix: the loader lands in the prefix's
# gdk-pixbuf loader folder with a loader cache of the prefix's own, through
# which gdk-pixbuf's thumbnailer turns the sample into a PNG of the preview's
# colours; the desktop offers the image viewer for the file type; and the
# uninstall step removes every installed file, the cache included.
# Arguments: -DBUILD= -DWORK= -DSAMPLE= -DTHUMB=zvk-thumb -DLOADER_DIR= -DCACHE= (relative to the prefix)
#            -DTHUMBNAILER=gdk-pixbuf-thumbnailer -DUPDATE_MIME_DATABASE= [-DCONVERT=imagemagick's convert] [-DGIO=gio -DUPDATE_DESKTOP_DATABASE=] [-DPRELOAD=]
include(${CMAKE_CURRENT_LIST_DIR}/../../tests/tools/picture_size.cmake)
include(${CMAKE_CURRENT_LIST_DIR}/../../tests/tools/run_checked.cmake)
file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK}/home)
set(prefix ${WORK}/prefix)

run(${CMAKE_COMMAND} --install ${BUILD} --prefix ${prefix})
set(loader ${prefix}/${LOADER_DIR}/libpixbufloader-zvk.so)
set(cache ${prefix}/${CACHE})
foreach(installed ${loader} ${cache} ${prefix}/share/applications/ifzvk-viewer.desktop)
  if(NOT EXISTS ${installed})
    message(FATAL_ERROR "not installed: ${installed}")
  endif()
endforeach()

# --- The cache lists the installed loader (not the build tree's) beside the
# system's loaders (BMP among them), so that viewers started with it still
# open every other format; PNG and JPEG are built into gdk-pixbuf itself.
file(READ ${cache} listing)
# Flags 4: thread-safe, so gdk-pixbuf runs loads of it on several threads at once.
string(FIND "${listing}" "\"${loader}\"\n\"zvk\" 4 " at)
if(at EQUAL -1 OR NOT listing MATCHES "\"application/x-zorvik\" \"\"\n\"zvk\" \"\"\n\"zorvixa\" \"\" 100\n"
   OR NOT listing MATCHES "\"image/bmp\"")
  message(FATAL_ERROR "the prefix's loader cache does not list the zorvik and BMP loaders:\n${listing}")
endif()

# --- gdk-pixbuf's thumbnailer, as a GNOME desktop runs it, through that cache
# and a MIME database made from the installed type (gdk-pixbuf recognises
# files through it), outside the prefix so that the uninstall check stays exact.
file(COPY ${prefix}/share/mime/packages DESTINATION ${WORK}/types/mime)
run(${UPDATE_MIME_DATABASE} ${WORK}/types/mime)
set(data_dirs ${WORK}/types:${prefix}/share:/usr/share)
set(env ${CMAKE_COMMAND} -E env GDK_PIXBUF_MODULE_FILE=${cache} XDG_DATA_DIRS=${data_dirs} XDG_DATA_HOME=${WORK}/home)
if(PRELOAD)
  list(APPEND env LD_PRELOAD=${PRELOAD} ASAN_OPTIONS=detect_leaks=0)
endif()
run(${env} ${THUMBNAILER} -s 128 ${SAMPLE} ${WORK}/thumbnail.png)
picture_size(${WORK}/thumbnail.png w h)
if(NOT w EQUAL 128 OR NOT h EQUAL 128)
  message(FATAL_ERROR "the thumbnail is ${w} x ${h}, expected 128 x 128")
endif()
# Its mean colour is the preview's, which zvk-thumb renders through the Susie module.
if(CONVERT)
  run(${THUMB} --quiet ${SAMPLE} ${WORK}/reference.png)
  foreach(picture thumbnail reference)
    run(${CONVERT} ${WORK}/${picture}.png -resize 1x1! -depth 8 txt:-)
    string(REGEX MATCH "\\(([0-9]+),([0-9]+),([0-9]+)" rgb "${out}")
    set(${picture} ${CMAKE_MATCH_1} ${CMAKE_MATCH_2} ${CMAKE_MATCH_3})
  endforeach()
  foreach(channel 0 1 2)
    list(GET thumbnail ${channel} a)
    list(GET reference ${channel} b)
    math(EXPR difference "${a} - ${b}")
    if(difference GREATER 4 OR difference LESS -4)
      message(FATAL_ERROR "the thumbnail's mean colour ${thumbnail} is not the preview's ${reference}")
    endif()
  endforeach()
endif()

# --- The file manager's "Open With": the image viewer is offered for the type
# once the prefix's application index is brought up to date, as the README says.
if(GIO AND UPDATE_DESKTOP_DATABASE)
  run(${UPDATE_DESKTOP_DATABASE} ${prefix}/share/applications)
  run(${CMAKE_COMMAND} -E env XDG_DATA_DIRS=${data_dirs} XDG_DATA_HOME=${WORK}/home
      XDG_CONFIG_HOME=${WORK}/home ${GIO} mime application/x-zorvik)
  if(NOT out MATCHES "ifzvk-viewer\\.desktop")
    message(FATAL_ERROR "no application offered for application/x-zorvik:\n${out}")
  endif()
  file(REMOVE ${prefix}/share/applications/mimeinfo.cache)  # the index is the user's, not the install's
endif()

# --- Uninstall leaves nothing behind in the prefix, the cache included.
run(${CMAKE_COMMAND} --build ${BUILD} --target uninstall)
file(GLOB_RECURSE left LIST_DIRECTORIES false ${prefix}/*)
if(left)
  message(FATAL_ERROR "left after uninstall: ${left}")
endif()
