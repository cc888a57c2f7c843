# gdk-pixbuf's loader cache, kept in step with the loader at install and
# uninstall. gdk-pixbuf reads only the cache, never the loader folder.
# Needs ZVK_QUERY_LOADERS, ZVK_SYSTEM_MODULEDIR and ZVK_SANITIZER_PRELOAD.

# Runs gdk-pixbuf-query-loaders with the arguments after output_var and
# gives what it prints.
function(zvk_query_loaders output_var)
  set(env ${CMAKE_COMMAND} -E env)
  if(ZVK_SANITIZER_PRELOAD)
    list(APPEND env LD_PRELOAD=${ZVK_SANITIZER_PRELOAD} ASAN_OPTIONS=detect_leaks=0)
  endif()
  execute_process(COMMAND ${env} ${ZVK_QUERY_LOADERS} ${ARGN} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "gdk-pixbuf-query-loaders ${ARGN} failed (${rc}): ${err}")
  endif()
  set(${output_var} "${out}" PARENT_SCOPE)
endfunction()

# True when folder is the system's loader folder (through links too).
function(zvk_is_system_moduledir folder result)
  file(REAL_PATH "${folder}" real)
  file(REAL_PATH "${ZVK_SYSTEM_MODULEDIR}" system)
  if(real STREQUAL system)
    set(${result} TRUE PARENT_SCOPE)
  else()
    set(${result} FALSE PARENT_SCOPE)
  endif()
endfunction()

# After the loader ZVK_LOADER is installed: brings the cache up to date.
# A staged install (DESTDIR) leaves it to the package's own install step.
function(zvk_install_loader_cache)
  if(DEFINED ENV{DESTDIR} AND NOT "$ENV{DESTDIR}" STREQUAL "")
    message(STATUS "DESTDIR set: gdk-pixbuf's loader cache is left to the package's install step")
    return()
  endif()
  get_filename_component(folder ${ZVK_LOADER} DIRECTORY)
  zvk_is_system_moduledir(${folder} system)
  if(system)
    message(STATUS "Updating gdk-pixbuf's loader cache")
    zvk_query_loaders(ignored --update-cache)
    return()
  endif()
  message(STATUS "Writing the loader cache of this prefix: ${ZVK_CACHE}")
  file(GLOB system_loaders ${ZVK_SYSTEM_MODULEDIR}/*.so)
  zvk_query_loaders(cache ${system_loaders} ${ZVK_LOADER})
  if(NOT cache MATCHES "\"application/x-zorvik\"")
    message(FATAL_ERROR "gdk-pixbuf-query-loaders could not load ${ZVK_LOADER}")
  endif()
  file(WRITE ${ZVK_CACHE} "${cache}")
  # Listed with the installed files, so that uninstalling removes it too.
  list(APPEND CMAKE_INSTALL_MANIFEST_FILES ${ZVK_CACHE})
  set(CMAKE_INSTALL_MANIFEST_FILES "${CMAKE_INSTALL_MANIFEST_FILES}" PARENT_SCOPE)
endfunction()
