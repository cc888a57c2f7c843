# zvk_version_resource(TARGET INTERNAL_NAME DESCRIPTION): gives the Windows
# DLL TARGET a version resource from the project's version ("1.01" is
# 1.1.0.0): the product name and version are the project's, the file name is
# the target's own.
function(zvk_version_resource target internal_name description)
  enable_language(RC)
  math(EXPR ZVK_VERSION_MAJOR "${PROJECT_VERSION_MAJOR}")
  math(EXPR ZVK_VERSION_MINOR "${PROJECT_VERSION_MINOR}")
  get_target_property(_name ${target} OUTPUT_NAME)
  get_target_property(_suffix ${target} SUFFIX)
  set(ZVK_ORIGINAL_FILENAME ${_name}${_suffix})
  set(ZVK_INTERNAL_NAME ${internal_name})
  set(ZVK_FILE_DESCRIPTION ${description})
  set(_rc ${CMAKE_CURRENT_BINARY_DIR}/${target}-version.rc)
  configure_file(${PROJECT_SOURCE_DIR}/cmake/version.rc.in ${_rc} @ONLY)
  target_sources(${target} PRIVATE ${_rc})
endfunction()
