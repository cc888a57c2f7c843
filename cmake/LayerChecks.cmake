# Tests that the layers hold: a one-line source that includes a header is
# compiled with the include paths and definitions of a target, as that
# target's own sources are, by building it from ctest. An include the layer may
# not make must stop the build with the expected message; the allowed ones,
# compiled the same way, show that the probe itself builds.
#   zvk_include_case(NAME TARGET HEADER [FAILS_WITH REGEX])
function(zvk_include_case name target header)
  cmake_parse_arguments(PARSE_ARGV 3 case "" "FAILS_WITH" "")
  set(probe layer_probe_${name})
  file(CONFIGURE OUTPUT ${CMAKE_CURRENT_BINARY_DIR}/layer-probes/${name}.cpp CONTENT "#include ${header}\n")
  add_library(${probe} OBJECT EXCLUDE_FROM_ALL ${CMAKE_CURRENT_BINARY_DIR}/layer-probes/${name}.cpp)
  target_include_directories(${probe} PRIVATE $<TARGET_PROPERTY:${target},INCLUDE_DIRECTORIES>)
  target_compile_definitions(${probe} PRIVATE $<TARGET_PROPERTY:${target},COMPILE_DEFINITIONS>)
  target_compile_options(${probe} PRIVATE -Wfatal-errors)
  add_test(NAME layers_${name} COMMAND ${CMAKE_COMMAND} --build ${CMAKE_BINARY_DIR} --target ${probe})
  # Builds in one tree take turns.
  set_tests_properties(layers_${name} PROPERTIES RESOURCE_LOCK build-tree)
  if(case_FAILS_WITH)
    set_tests_properties(layers_${name} PROPERTIES PASS_REGULAR_EXPRESSION "${case_FAILS_WITH}")
  endif()
endfunction()

# A header not on the layer's paths is missing; a third-party one that the
# system provides meets its stand-in (cmake/Layers.cmake).
zvk_include_case(image_may_not_include_document zvk_image "\"document/thumbnail.h\""
                 FAILS_WITH "document/thumbnail.h: No such file")
zvk_include_case(platform_may_not_include_image zvk_platform "\"image/Image32.h\""
                 FAILS_WITH "image/Image32.h: No such file")
zvk_include_case(tools_may_not_include_document zvk_host "\"document/Container.h\""
                 FAILS_WITH "document/Container.h: No such file")
zvk_include_case(image_may_not_include_tinyxml zvk_image "<tinyxml.h>" FAILS_WITH "does not use tinyxml")
zvk_include_case(tools_may_not_include_tinyxml zvk_host "<tinyxml.h>" FAILS_WITH "does not use tinyxml")
zvk_include_case(plugin_may_not_include_zlib zvk_plugin "<zlib.h>" FAILS_WITH "does not use zlib")
# Where Boost is not among the system's headers (the Windows builds) the
# header itself is missing.
zvk_include_case(plugin_may_not_include_boost zvk_plugin "<boost/lexical_cast.hpp>"
                 FAILS_WITH "does not use boost|boost/lexical_cast.hpp: No such file")
zvk_include_case(plugin_includes_document zvk_plugin "\"document/thumbnail.h\"")
zvk_include_case(document_includes_tinyxml zvk_document "<tinyxml.h>")
